#include "SendFailure.h"

#include <QCoreApplication>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SendFailure", text);
}

QString refusalWorded(const HttpRefusal &refusal)
{
    switch (refusal.kind) {
    case HttpRefusal::Kind::UnknownCoding:
        return tr("the receiver's answer is not understood");
    case HttpRefusal::Kind::TooLong:
        return tr("the receiver's answer is too long");
    case HttpRefusal::Kind::ClosedUnanswered:
        return tr("the receiver closed the connection without answering");
    case HttpRefusal::Kind::ClosedEarly:
        return tr("the connection closed before the receiver's answer was complete");
    case HttpRefusal::Kind::NotHttp:
    case HttpRefusal::Kind::HeadTooLong:
    case HttpRefusal::Kind::BadLineEnd:
    case HttpRefusal::Kind::BadStatusLine:
    case HttpRefusal::Kind::BadStatus:
    case HttpRefusal::Kind::BadHeader:
    case HttpRefusal::Kind::BadTransferEncoding:
    case HttpRefusal::Kind::BadContentLength:
    case HttpRefusal::Kind::BadChunk:
    case HttpRefusal::Kind::BadTrailer:
        break;
    }
    return tr("the receiver's answer is not valid HTTP");
}

} // namespace

SendFailure SendFailure::of(Kind kind, QStringList details)
{
    SendFailure failure;
    failure.kind = kind;
    failure.details = std::move(details);
    return failure;
}

SendFailure SendFailure::ofExchange(const HttpFailure &failure, const ReceiverAddress &address)
{
    const QString port = QString::number(address.port);
    switch (failure.kind) {
    case HttpFailure::Kind::Refused:
        return of(Kind::RefusedConnection, {address.host, port});
    case HttpFailure::Kind::NameUnknown:
        return of(Kind::NameUnknown, {address.host});
    case HttpFailure::Kind::Tls: // the library's own words are for the trace alone
        return of(Kind::TlsFailed, {address.host, port});
    case HttpFailure::Kind::Answer: {
        const bool closed = failure.refusal.kind == HttpRefusal::Kind::ClosedUnanswered;
        const bool unanswered = closed || failure.refusal.kind == HttpRefusal::Kind::ClosedEarly;
        SendFailure refused = of(unanswered ? Kind::NoAnswer : Kind::NotUnderstood);
        refused.refusal = failure.refusal;
        refused.fromRefusal = true;
        // A TLS server drops a request in plain HTTP without a word.
        refused.plainAtHttpsPort = closed && !address.tls && address.port == 443;
        return refused;
    }
    case HttpFailure::Kind::Certificate: // the dialogue tells which, with the fingerprints
    case HttpFailure::Kind::Network:
        break;
    }
    return of(Kind::NoAnswer, {failure.detail});
}

QString Worded(const SendFailure &failure)
{
    using Kind = SendFailure::Kind;
    if (failure.fromRefusal)
        return refusalWorded(failure.refusal)
               + (failure.plainAtHttpsPort
                      ? tr("; port 443 is the one for HTTPS, so type the address with https:// "
                           "in front")
                      : QString());
    const QStringList &details = failure.details;
    const QString first = details.value(0);
    switch (failure.kind) {
    case Kind::RefusedConnection:
        return tr("nothing answers at %1 on port %2, so check that the address is right and that "
                  "the receiver's web interface is switched on; the receiver may also be "
                  "switched off or in deep standby")
            .arg(first, details.value(1));
    case Kind::NameUnknown:
        return tr("there is no receiver named %1 on the network").arg(first);
    case Kind::TlsFailed:
        return tr("the receiver did not answer in HTTPS at %1 on port %2, so if its web "
                  "interface is plain HTTP there, type the address without https://")
            .arg(first, details.value(1));
    case Kind::LoginWanted:
        return tr("the receiver wants a login, so type the address as %1user:password@%2")
            .arg(first, details.value(1));
    case Kind::TimedOut:
        return tr("no answer from the receiver within %1 seconds").arg(first);
    case Kind::NotAwake:
        return tr("the receiver did not wake up within %1 seconds").arg(first);
    case Kind::InStandby:
        return tr("the receiver is in standby, so nobody would see the message; --wake "
                  "switches it on first");
    case Kind::HttpError: {
        QString refusal
            = tr("the receiver answered HTTP %1 %2").arg(first, details.value(1)).trimmed();
        if (!details.value(2).isEmpty())
            refusal = tr("%1 when asked for the answer").arg(refusal);
        if (first == QLatin1String("404"))
            return tr("%1, so check that the address and port are those of the receiver's web "
                      "interface")
                .arg(refusal);
        if (first.startsWith(QLatin1Char('5')))
            return tr("%1, so try again later, or restart the receiver's web interface")
                .arg(refusal);
        return refusal;
    }
    case Kind::LoginRefused:
        return tr("the receiver refused the login, so check the user name and password as typed "
                  "in the address");
    case Kind::RefusedByReceiver:
        return first.isEmpty() ? tr("the receiver refused the message") : first;
    case Kind::CantAsk:
        return tr("this receiver can't ask questions");
    case Kind::NotUnderstood:
        if (first == QLatin1String(SendFailure::Message))
            return tr("the receiver's answer to the message is not understood");
        if (first == QLatin1String(SendFailure::AnswerText))
            return tr("the receiver's answer to the question is not understood: \"%1\"")
                .arg(details.value(1));
        return tr("the receiver's answer to the question is not understood");
    case Kind::CertificateUntrusted:
        return tr("the receiver's certificate is not trusted: SHA-256 %1").arg(first);
    case Kind::CertificateChanged:
        return tr("the receiver's certificate has changed since it was trusted: it is now "
                  "SHA-256 %1, trusted was %2")
            .arg(first, details.value(1));
    case Kind::Cancelled:
        return tr("the send was cancelled");
    case Kind::NoAnswer: // the words themselves
        break;
    }
    return first;
}
