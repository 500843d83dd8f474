#include "WireUrl.h"

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

} // namespace

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
