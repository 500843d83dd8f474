#include "ReceiverDialogue.h"
#include "AnswerMeaning.h"
#include "MessageUrl.h"
#include "PlainText.h"
#include "WireUrl.h"
#include "XmlAnswer.h"

#include <QUrl>

#include <algorithm>
#include <optional>
#include <variant>

namespace {

QByteArray formValue(const QString &text)
{
    return QUrl::toPercentEncoding(text);
}

// A first-generation request this long may be more than a second-generation receiver's web server
// reads; it then answers with an error or drops the connection instead of saying 404.
constexpr qsizetype LongRequestLine = 8 * 1024;

bool refusesLongRequests(int status)
{
    return status == 400 || status == 414 || status == 431;
}

bool isSuccess(const HttpAnswer &answer)
{
    return answer.status >= 200 && answer.status <= 299;
}

// An answer that is an HTTP error, told as its status line says it.
QString httpRefusal(const HttpAnswer &answer)
{
    return ReceiverDialogue::tr("the receiver answered HTTP %1 %2")
        .arg(answer.status)
        .arg(PlainText::from(answer.reason))
        .trimmed();
}

// Whether an answer's e2state says True, in any case.
bool stateIsTrue(const QHash<QString, QString> &elements)
{
    return elements.value(QStringLiteral("e2state"))
               .compare(QLatin1String("True"), Qt::CaseInsensitive)
           == 0;
}

} // namespace

ReceiverDialogue::ReceiverDialogue(const Message &message,
                                   SecondGenerationReceivers &known,
                                   const CertificateTrust &trust,
                                   std::chrono::milliseconds timeout,
                                   QObject *parent)
    : QObject(parent)
    , m_message(message)
    , m_known(known)
    , m_trust(trust)
    , m_timeout(timeout)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        fail(tr("no answer from the receiver within %1 seconds")
                 .arg(QString::number(static_cast<double>(m_timeout.count()) / 1000.0)));
    });
    m_nextAnswer.setSingleShot(true);
    // A coarse timer may fire a little early, just short of the end of the wait, and the answer
    // would then be asked for once more a few milliseconds later.
    m_nextAnswer.setTimerType(Qt::PreciseTimer);
    connect(&m_nextAnswer, &QTimer::timeout, this, [this] { send(Step::Answer); });
}

void ReceiverDialogue::start(Done done)
{
    m_done = std::move(done);
    auto address = ParseReceiverAddress(m_message.address);
    if (const QString *invalid = std::get_if<QString>(&address))
        return fail(*invalid);
    m_address = std::get<ReceiverAddress>(std::move(address));
    m_timer.start(m_timeout);
    if (isQuestion())
        return send(Step::Session);
    const auto known = m_known.constFind(knownKey());
    if (known == m_known.cend())
        return send(Step::FirstGeneration);
    m_remembered = true;
    m_session = *known;
    send(Step::Message);
}

HttpRequest ReceiverDialogue::requestFor(Step step) const
{
    HttpRequest request;
    request.host = m_address.host;
    request.zone = m_address.zone;
    request.port = m_address.port;
    request.tls = m_address.tls;
    request.hostHeader = m_address.hostHeader;
    request.authorization = m_address.authorization();
    QByteArray form;
    switch (step) {
    case Step::FirstGeneration:
        request.target = EncodeUrlForWire(
            ComposeMessageTarget(m_message.timeout, m_message.caption, m_message.body));
        break;
    case Step::Session:
        request.target = "/web/session";
        break;
    case Step::Message: {
        const QString text = m_message.caption.isEmpty()
                                 ? m_message.body
                                 : m_message.caption + QLatin1Char('\n') + m_message.body;
        // A question goes without a time-out: a box that runs out closes with its preselected
        // Yes, which would read as an answer that nobody gave.
        const int type = isQuestion() ? Message::Question : std::clamp(m_message.type, 1, 3);
        const QString timeout = isQuestion() ? QStringLiteral("0") : m_message.timeout;
        request.method = "POST";
        request.target = "/web/message";
        form = "text=" + formValue(text) + "&type=" + QByteArray::number(type)
               + "&timeout=" + formValue(timeout);
        break;
    }
    case Step::EarlierAnswer:
    case Step::Answer:
        // A receiver that hands out sessions wants them on every call, and by POST.
        if (m_session.isEmpty()) {
            request.target = "/web/messageanswer?getanswer=now";
        } else {
            request.method = "POST";
            request.target = "/web/messageanswer";
            form = "getanswer=now";
        }
        break;
    }
    if (!m_session.isEmpty() && request.method == "POST")
        form += "&sessionid=" + formValue(m_session);
    if (request.method == "POST") {
        request.body = form;
        request.contentType = "application/x-www-form-urlencoded";
    }
    return request;
}

void ReceiverDialogue::send(Step step)
{
    if (step == Step::Answer)
        m_timer.start(m_timeout); // each request for the answer has the time-out of its own
    const HttpRequest request = requestFor(step);
    const QString peer = m_address.shown();
    m_exchange = new HttpExchange(
        request,
        [trust = m_trust, key = m_address.receiverKey()](const PeerCertificate &certificate) {
            return trust.trusts(key, certificate.sha256);
        },
        [this, step, peer](const HttpOutcome &outcome) {
            m_exchange->deleteLater();
            m_exchange = nullptr;
            if (!outcome.tls.isEmpty())
                trace(QStringLiteral("* %1 (with %2)").arg(outcome.tls, peer));
            trace(QStringLiteral("< %1 (from %2)")
                      .arg(outcome.failure.isEmpty() ? PlainText::from(outcome.answer.statusLine)
                                                     : outcome.failure,
                           peer));
            judge(step, outcome);
        },
        this);
    m_exchange->setSent([this, request, peer] {
        trace(QStringLiteral("> %1 (to %2)")
                  .arg(QString::fromUtf8(HttpExchange::requestLine(request)), peer));
    });
}

void ReceiverDialogue::judge(Step step, const HttpOutcome &outcome)
{
    if (outcome.refused) {
        UntrustedCertificate certificate;
        certificate.receiver = m_address.receiverKey();
        certificate.fingerprint = outcome.refused->sha256;
        certificate.trusted = m_trust.keptFor(certificate.receiver);
        certificate.validFrom = outcome.refused->validFrom;
        certificate.validUntil = outcome.refused->validUntil;
        SendOutcome untrusted;
        untrusted.failure
            = certificate.changed()
                  ? tr("the receiver's certificate has changed since it was trusted: it is now "
                       "SHA-256 %1, trusted was %2")
                        .arg(FormatFingerprint(certificate.fingerprint),
                             FormatFingerprint(certificate.trusted))
                  : tr("the receiver's certificate is not trusted: SHA-256 %1")
                        .arg(FormatFingerprint(certificate.fingerprint));
        untrusted.untrusted = certificate;
        return finish(untrusted);
    }
    if (!outcome.failure.isEmpty()) {
        // A second-generation receiver's web server may drop a long request line unanswered.
        if (step == Step::FirstGeneration && outcome.connected && outcome.unanswered
            && isLongRequest())
            return send(Step::Session);
        return fail(outcome.failure);
    }
    const HttpAnswer &answer = outcome.answer;
    if (answer.status == 401)
        return fail(m_address.hasLogin
                        ? tr("the receiver refused the login")
                        : tr("the receiver wants a login, so type the address as "
                             "%1user:password@%2")
                              .arg(m_address.tls ? QStringLiteral("https://") : QString(),
                                   m_address.hostAndPort));
    switch (step) {
    case Step::FirstGeneration:
        return judgeFirstGeneration(answer);
    case Step::Session:
        return takeSession(answer);
    case Step::EarlierAnswer:
        if (answer.status == 404) // it keeps no answers, so it can't tell this one
            return fail(tr("this receiver can't ask questions"));
        if (!isSuccess(answer))
            return fail(httpRefusal(answer));
        return send(Step::Message);
    case Step::Message:
        return judgeMessage(answer);
    case Step::Answer:
        return judgeAnswer(answer);
    }
}

void ReceiverDialogue::judgeFirstGeneration(const HttpAnswer &answer)
{
    if (answer.status == 404 // no such call: a second-generation receiver
        || (refusesLongRequests(answer.status) && isLongRequest()))
        return send(Step::Session);
    if (!isSuccess(answer))
        return fail(httpRefusal(answer));
    // A receiver that refuses a message still answers 200, with a text that starts "E:".
    if (answer.body.startsWith("E:"))
        return fail(PlainText::from(answer.body.trimmed()));
    finish({});
}

void ReceiverDialogue::takeSession(const HttpAnswer &answer)
{
    // Web interfaces without sessions answer 404; the message then goes without one.
    m_session = answer.status == 200 ? XmlElements(answer.body)
                                           .value_or(QHash<QString, QString>{})
                                           .value(QStringLiteral("e2sessionid"))
                                     : QString();
    if (m_answerSessionRenewed) // the question is on the screen already
        return send(Step::Answer);
    send(isQuestion() && !m_sessionRenewed ? Step::EarlierAnswer : Step::Message);
}

void ReceiverDialogue::judgeMessage(const HttpAnswer &answer)
{
    if (answer.status == 412 && !m_sessionRenewed) { // the session is missing or has expired
        m_sessionRenewed = true;
        return send(Step::Session);
    }
    if (answer.status == 404 && isQuestion())
        return fail(tr("this receiver can't ask questions"));
    if (answer.status == 404 && m_remembered) { // not the receiver it was: start afresh, once
        m_known.remove(knownKey());
        m_remembered = false;
        m_session.clear();
        return send(Step::FirstGeneration);
    }
    if (!isSuccess(answer))
        return fail(httpRefusal(answer));
    const auto elements = answer.status == 200 ? XmlElements(answer.body) : std::nullopt;
    if (!elements || !elements->contains(QStringLiteral("e2state")))
        return fail(tr("the receiver's answer to the message is not understood"));
    const QString state = PlainText::from(elements->value(QStringLiteral("e2state")));
    trace(QStringLiteral("< e2state %1 (from %2)").arg(state, m_address.shown()));
    m_known.insert(knownKey(), m_session);
    // Judged by the state alone: the text that goes with it is translated on the receiver.
    if (!stateIsTrue(*elements)) {
        const QString why = PlainText::from(elements->value(QStringLiteral("e2statetext")));
        return fail(why.isEmpty() ? tr("the receiver refused the message") : why);
    }
    if (!isQuestion())
        return finish({});
    m_timer.stop();
    m_wait.setRemainingTime(std::chrono::seconds(m_message.wait));
    m_nextAnswer.start(std::chrono::seconds(1));
}

// The receiver keeps one last answer. Its state and text say whether a person has answered and
// what; only a text known for that state is taken.
void ReceiverDialogue::judgeAnswer(const HttpAnswer &answer)
{
    m_timer.stop();
    // A session may run out while a person thinks: a new one, and the wait goes on. Once in a
    // row, so that a receiver that refuses every session can't keep the dialogue going.
    if (answer.status == 412 && !m_session.isEmpty() && !m_answerSessionRenewed) {
        m_answerSessionRenewed = true;
        return send(Step::Session);
    }
    m_answerSessionRenewed = false;
    const auto elements = answer.status == 200 ? XmlElements(answer.body) : std::nullopt;
    if (!elements || !elements->contains(QStringLiteral("e2state")))
        return fail(isSuccess(answer)
                        ? tr("the receiver's answer to the question is not understood")
                        : tr("%1 when asked for the answer").arg(httpRefusal(answer)));
    const bool answered = stateIsTrue(*elements);
    const QString text = elements->value(QStringLiteral("e2statetext"));
    trace(QStringLiteral("< e2state %1: %2 (from %3)")
              .arg(PlainText::from(elements->value(QStringLiteral("e2state"))),
                   PlainText::from(text),
                   m_address.shown()));
    const std::optional<AnswerText> meaning = RecognizeAnswerText(text);
    if (!meaning || (meaning == AnswerText::NoneYet) == answered)
        return fail(tr("the receiver's answer to the question is not understood: \"%1\"")
                        .arg(PlainText::from(text)));
    SendOutcome outcome;
    if (meaning == AnswerText::Yes)
        outcome.answer = SendOutcome::Answer::Yes;
    else if (meaning == AnswerText::No)
        outcome.answer = SendOutcome::Answer::No;
    else if (m_wait.hasExpired())
        outcome.answer = SendOutcome::Answer::NotInTime;
    if (outcome.answer)
        return finish(outcome);
    m_nextAnswer.start(
        std::min(std::chrono::milliseconds(1000),
                 std::chrono::ceil<std::chrono::milliseconds>(m_wait.remainingTimeAsDuration())));
}

bool ReceiverDialogue::isLongRequest() const
{
    return HttpExchange::requestLine(requestFor(Step::FirstGeneration)).size() > LongRequestLine;
}

QString ReceiverDialogue::knownKey() const
{
    return m_address.origin();
}

void ReceiverDialogue::trace(const QString &line) const
{
    if (m_trace)
        m_trace(line);
}

void ReceiverDialogue::fail(const QString &failure)
{
    SendOutcome outcome;
    outcome.failure = failure;
    finish(outcome);
}

void ReceiverDialogue::finish(const SendOutcome &outcome)
{
    if (!m_done)
        return;
    m_timer.stop();
    m_nextAnswer.stop();
    delete m_exchange;
    m_exchange = nullptr;
    const Done done = std::move(m_done);
    m_done = nullptr;
    done(outcome);
}
