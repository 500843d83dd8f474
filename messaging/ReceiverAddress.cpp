#include "ReceiverAddress.h"
#include "CertificateTrust.h"
#include "WireUrl.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QRegularExpression>

#include <algorithm>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Inet", text);
}

QString invalidAddress(const QString &why)
{
    return tr("invalid receiver address: %1").arg(why);
}

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// %XX escapes to their bytes, everything else as typed; the bytes read as UTF-8.
QString decodeEscapes(QStringView text)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'%' && i + 2 < text.size() && isHexDigit(text[i + 1])
            && isHexDigit(text[i + 2])) {
            bytes += static_cast<char>(text.sliced(i + 1, 2).toUShort(nullptr, 16));
            i += 2;
            continue;
        }
        bytes += text.sliced(i, 1).toUtf8();
    }
    return QString::fromUtf8(bytes);
}

bool isHostCharacter(QChar c)
{
    return c.isLetterOrNumber() || c == u'-' || c == u'.' || c == u'_';
}

bool isPort(const QString &port)
{
    bool isNumber = false;
    const int number = port.toInt(&isNumber);
    return isNumber && std::all_of(port.begin(), port.end(), [](QChar c) { return c.isDigit(); })
           && number >= 1 && number <= 65535;
}

} // namespace

QString ReceiverAddress::shown() const
{
    return (tls ? QStringLiteral("https://") : QString()) + hostAndPortTyped;
}

QString ReceiverAddress::receiverKey() const
{
    return ReceiverKey(host, port);
}

QByteArray ReceiverAddress::authorization() const
{
    if (!hasLogin)
        return {};
    return "Basic " + (user + u':' + password).toUtf8().toBase64();
}

std::variant<ReceiverAddress, QString> ParseReceiverAddress(const QString &typed)
{
    ReceiverAddress address;
    QString rest = typed.trimmed();
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    if (const auto match = scheme.match(rest); match.hasMatch()) {
        if (match.captured().compare(QLatin1String("https://"), Qt::CaseInsensitive) != 0)
            // "http://" typed into the address must not make "http" a host name.
            return invalidAddress(tr("type it without %1").arg(match.captured()));
        address.tls = true;
        address.port = 443;
        rest.remove(0, match.capturedLength());
    }

    // The login ends at the last '@', as in a browser, so a password may hold an '@'.
    const qsizetype at = rest.lastIndexOf(u'@');
    const QString hostAndPort = rest.mid(at + 1);
    if (at > 0) {
        const QStringView login = QStringView(rest).left(at);
        const qsizetype colon = login.indexOf(u':');
        address.hasLogin = true;
        address.user = decodeEscapes(colon < 0 ? login : login.left(colon));
        address.password = colon < 0 ? QString() : decodeEscapes(login.sliced(colon + 1));
    }

    if (std::any_of(hostAndPort.begin(), hostAndPort.end(), [](QChar c) { return c.isSpace(); }))
        return invalidAddress(tr("it contains a space"));
    QString host = hostAndPort;
    QString port;
    const qsizetype bracket = hostAndPort.indexOf(u']');
    if (const qsizetype colon = hostAndPort.lastIndexOf(u':'); colon > bracket) {
        host = hostAndPort.left(colon);
        port = hostAndPort.mid(colon + 1);
        if (!isPort(port))
            return invalidAddress(tr("the port must be a number from 1 to 65535"));
        address.port = static_cast<quint16>(port.toInt());
    }
    if (host.isEmpty())
        return invalidAddress(tr("the receiver's name or IP address is missing"));
    if (host.startsWith(u'[')) {
        // An IPv6 address in brackets, and nothing else in them.
        const QHostAddress ip(host.mid(1, host.size() - 2));
        if (!host.endsWith(u']') || ip.protocol() != QAbstractSocket::IPv6Protocol)
            return invalidAddress(tr("%1 is not an IPv6 address").arg(host));
        address.host = ip.toString();
    } else {
        for (const QChar c : host)
            if (!isHostCharacter(c))
                return invalidAddress(tr("a receiver's name can't hold \"%1\"").arg(c));
        address.host = host.toLower();
    }
    address.hostAndPortTyped = hostAndPort;
    address.hostHeader = EncodeUrlForWire(hostAndPort);
    return address;
}
