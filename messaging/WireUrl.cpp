#include "WireUrl.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <cstring>

namespace {

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool startsEscape(const QByteArray &text, qsizetype percent)
{
    return percent + 2 < text.size() && isHexDigit(text[percent + 1])
           && isHexDigit(text[percent + 2]);
}

bool isKeyCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'
           || c == '-' || c == '.';
}

// An '&' starts a query key only when a name and '=' follow it directly.
bool startsKey(const QByteArray &text, qsizetype ampersand)
{
    qsizetype end = ampersand + 1;
    while (end < text.size() && isKeyCharacter(text[end]))
        ++end;
    return end > ampersand + 1 && end < text.size() && text[end] == '=';
}

bool mustEncode(const QByteArray &text, qsizetype i, qsizetype query)
{
    const auto c = static_cast<unsigned char>(text[i]);
    if (c <= 0x20 || c >= 0x7f)
        return true;
    if (c == '%')
        return !startsEscape(text, i);
    if (c == '&')
        return query >= 0 && i > query && !startsKey(text, i);
    return std::strchr("\"<>\\^`{|}#+", c) != nullptr;
}

QString tr(const char *text)
{
    return QCoreApplication::translate("Inet", text);
}

bool colonOrPortIsWrong(const QString &hostAndPort, const QString &port)
{
    if (port.isEmpty())
        return hostAndPort.endsWith(u':');
    bool isNumber = false;
    const int number = port.toInt(&isNumber);
    return !isNumber || !std::all_of(port.begin(), port.end(), [](QChar c) { return c.isDigit(); })
           || number < 1 || number > 65535;
}

QString invalidAddress(const QString &why)
{
    return tr("invalid receiver address: %1").arg(why);
}

bool isHostCharacter(QChar c)
{
    return c.isLetterOrNumber() || c == u'-' || c == u'.' || c == u'_';
}

} // namespace

QString AddressProblem(const QString &address)
{
    const QString hostAndPort = address.mid(address.lastIndexOf(u'@') + 1);
    if (std::any_of(address.begin(), address.end(), [](QChar c) { return c.isSpace(); }))
        return invalidAddress(tr("it contains a space"));
    QString host = hostAndPort;
    QString port;
    const qsizetype bracket = hostAndPort.indexOf(u']');
    if (const qsizetype colon = hostAndPort.lastIndexOf(u':'); colon > bracket) {
        host = hostAndPort.left(colon);
        port = hostAndPort.mid(colon + 1);
    }
    if (host.isEmpty())
        return invalidAddress(tr("the receiver's name or IP address is missing"));
    if (colonOrPortIsWrong(hostAndPort, port))
        return invalidAddress(tr("the port must be a number from 1 to 65535"));
    if (!host.startsWith(u'[')) {
        for (const QChar c : host)
            if (!isHostCharacter(c))
                return invalidAddress(tr("a receiver's name can't hold \"%1\"").arg(c));
    }
    return {};
}

QByteArray EncodeUrlForWire(const QString &url)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    const QByteArray utf8 = url.toUtf8();
    const qsizetype query = utf8.indexOf('?');
    QByteArray wire;
    wire.reserve(utf8.size());
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        if (!mustEncode(utf8, i, query)) {
            wire += utf8[i];
            continue;
        }
        const auto c = static_cast<unsigned char>(utf8[i]);
        wire += '%';
        wire += hex[c >> 4];
        wire += hex[c & 0xf];
    }
    return wire;
}

std::variant<HttpRequest, QString> RequestForUrl(const QString &url)
{
    const QByteArray wire = EncodeUrlForWire(url);
    const QByteArray scheme = "http://";
    if (!wire.startsWith(scheme))
        return tr("invalid receiver address");
    // "http://" typed into the address would make "http" the host name, and the message could
    // go to whatever machine answers to that name.
    static const QRegularExpression typedScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    const QString rest = QString::fromLatin1(wire.mid(scheme.size()));
    if (const auto match = typedScheme.match(rest); match.hasMatch())
        return tr("invalid receiver address: type it without %1").arg(match.captured());

    qsizetype authorityEnd = scheme.size();
    while (authorityEnd < wire.size() && !std::strchr("/?#", wire[authorityEnd]))
        ++authorityEnd;
    QByteArray authority = wire.mid(scheme.size(), authorityEnd - scheme.size());
    // The login ends at the last '@', as in a browser, so a password may hold an '@'.
    if (const qsizetype at = authority.lastIndexOf('@'); at > 0)
        authority.replace(0, at, authority.left(at).replace("@", "%40"));
    const QUrl parsed = QUrl::fromEncoded(scheme + authority + '/', QUrl::StrictMode);
    if (!parsed.isValid() || parsed.host().isEmpty())
        return tr("invalid receiver address");

    HttpRequest request;
    request.host = parsed.host();
    request.port = static_cast<quint16>(parsed.port(80));
    request.hostHeader = authority.mid(authority.lastIndexOf('@') + 1);
    if (authority.contains('@')) {
        const QByteArray login = (parsed.userName(QUrl::FullyDecoded) + QLatin1Char(':')
                                  + parsed.password(QUrl::FullyDecoded))
                                     .toUtf8();
        request.authorization = "Basic " + login.toBase64();
    }
    request.target = wire.mid(authorityEnd);
    if (!request.target.startsWith('/'))
        request.target.prepend('/');
    return request;
}
