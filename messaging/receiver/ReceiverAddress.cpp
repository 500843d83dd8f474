#include "ReceiverAddress.h"
#include "CertificateTrust.h"
#include "HttpExchange.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("ReceiverAddress", text);
}

QString invalidAddress(const QString &why)
{
    return tr("invalid receiver address: %1").arg(why);
}

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// %XX escapes to their bytes, everything else as typed, in UTF-8.
QByteArray decodeEscapes(QStringView text)
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
    return bytes;
}

bool isAsciiHostCharacter(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')
           || c == u'-' || c == u'.' || c == u'_';
}

bool isPort(const QString &port)
{
    bool isNumber = false;
    const int number = port.toInt(&isNumber);
    return isNumber && std::all_of(port.begin(), port.end(), [](QChar c) { return c.isDigit(); })
           && number >= 1 && number <= 65535;
}

// An IPv6 address in brackets, with the network of a link-local one after '%' (or "%25", as a
// URL writes it): the address goes into the connection, never the zone into the Host header.
std::variant<ReceiverAddress, QString> readIpv6(ReceiverAddress address, const QString &host)
{
    QString inside = host.mid(1, host.size() - 2);
    const qsizetype percent = inside.indexOf(u'%');
    if (percent >= 0) {
        QString zone = inside.mid(percent + 1);
        if (zone.startsWith(QLatin1String("25")) && zone.size() > 2)
            zone.remove(0, 2);
        static const QRegularExpression zoneForm(QStringLiteral("^[A-Za-z0-9._~-]+$"));
        if (!zoneForm.match(zone).hasMatch())
            return invalidAddress(tr("the network after the '%' of an IPv6 address holds only "
                                     "letters, digits and - . _ ~"));
        address.zone = zone;
        inside.truncate(percent);
    }
    const QHostAddress ip(inside);
    if (!host.endsWith(u']') || ip.protocol() != QAbstractSocket::IPv6Protocol
        || !ip.scopeId().isEmpty())
        return invalidAddress(tr("%1 is not an IPv6 address").arg(host));
    address.host = ip.toString();
    address.hostAndPort = u'[' + inside + u']';
    return address;
}

// A name or IPv4 address: ASCII as typed, or an international name in its ASCII form.
std::variant<ReceiverAddress, QString> readName(ReceiverAddress address, const QString &host)
{
    const bool ascii
        = std::all_of(host.begin(), host.end(), [](QChar c) { return c.unicode() < 0x80; });
    const QString name = ascii ? host : QUrl::toAce(host);
    const auto wrong = std::find_if_not(name.begin(), name.end(), isAsciiHostCharacter);
    if (ascii && wrong != name.end())
        return invalidAddress(tr("a receiver's name can't hold \"%1\"").arg(*wrong));
    if (name.isEmpty() || wrong != name.end())
        return invalidAddress(tr("%1 is not a name a receiver can have").arg(host));
    address.host = name.toLower();
    address.hostAndPort = name;
    return address;
}

} // namespace

QString ReceiverAddress::shown() const
{
    return (tls ? QStringLiteral("https://") : QString()) + hostAndPort;
}

QString ReceiverAddress::origin() const
{
    return HttpRequest::Origin(tls, host, port);
}

QByteArray ReceiverAddress::authorization() const
{
    if (!hasLogin)
        return {};
    return "Basic " + (user + ':' + password).toBase64();
}

std::variant<ReceiverAddress, QString> ParseReceiverAddress(const QString &typed)
{
    ReceiverAddress address;
    QString rest = typed.trimmed();
    // A scheme stands at the very start, before any '@': in a login, "://" is only characters.
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
        address.password = colon < 0 ? QByteArray() : decodeEscapes(login.sliced(colon + 1));
        // The receiver reads the name up to the first ':' (RFC 7617, 2).
        if (address.user.contains(':'))
            return invalidAddress(tr("a user name can't hold a ':', as a login can't carry it"));
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
    auto read = host.startsWith(u'[') ? readIpv6(address, host) : readName(address, host);
    if (auto *parts = std::get_if<ReceiverAddress>(&read)) {
        if (!port.isEmpty())
            parts->hostAndPort += u':' + port;
        parts->hostHeader = parts->hostAndPort.toLatin1();
    }
    return read;
}
