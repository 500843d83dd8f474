#include "CodePage.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <algorithm>
#include <array>
#endif

namespace CodePage {

#ifdef Q_OS_WIN

namespace {

// The system's ANSI code page, but where that is UTF-8 ("Beta: Use Unicode UTF-8"): an 8-bit file
// is not valid UTF-8, or it would have been read as such, so it is taken to be Western Windows'.
UINT eightBitCodePage()
{
    const UINT system = GetACP();
    return system == CP_UTF8 ? 1252 : system;
}

} // namespace

QString name()
{
    return QStringLiteral("code page %1").arg(eightBitCodePage());
}

QString decode(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return {};
    const int size = static_cast<int>(bytes.size());
    const UINT codePage = eightBitCodePage();
    QString text(MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0),
                 Qt::Uninitialized);
    MultiByteToWideChar(codePage,
                        0,
                        bytes.data(),
                        size,
                        reinterpret_cast<wchar_t *>(text.data()),
                        int(text.size()));
    return text;
}

std::optional<QByteArray> encode(QStringView text)
{
    if (text.isEmpty())
        return QByteArray();
    const auto *wide = reinterpret_cast<const wchar_t *>(text.utf16());
    const int size = static_cast<int>(text.size());
    // No stand-ins: a character the code page lacks must not turn into a look-alike or a '?'.
    const UINT codePage = eightBitCodePage();
    BOOL lacking = FALSE;
    const int length = WideCharToMultiByte(
        codePage, WC_NO_BEST_FIT_CHARS, wide, size, nullptr, 0, nullptr, &lacking);
    QByteArray bytes(length, Qt::Uninitialized);
    WideCharToMultiByte(
        codePage, WC_NO_BEST_FIT_CHARS, wide, size, bytes.data(), length, nullptr, &lacking);
    if (lacking || length == 0 || decode(bytes) != text)
        return std::nullopt;
    return bytes;
}

bool newTextIsUtf8()
{
    return GetACP() == CP_UTF8;
}

#else

namespace {

// The characters Windows-1252 has for the bytes 0x80 to 0x9f; the bytes above are the same in
// Latin-1. The five bytes it leaves undefined stand for the control characters of their value,
// as on Windows.
constexpr std::array<char16_t, 32> high
    = {0x20ac, 0x0081, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160,
       0x2039, 0x0152, 0x008d, 0x017d, 0x008f, 0x0090, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022,
       0x2013, 0x2014, 0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0x009d, 0x017e, 0x0178};

} // namespace

QString name()
{
    return QStringLiteral("Windows-1252");
}

QString decode(QByteArrayView bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        text += c >= 0x80 && c < 0xa0 ? QChar(high[c - 0x80]) : QChar(c);
    }
    return text;
}

std::optional<QByteArray> encode(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80 || (u >= 0xa0 && u <= 0xff)) {
            bytes += static_cast<char>(u);
            continue;
        }
        const auto *found = std::find(high.begin(), high.end(), u);
        if (found == high.end())
            return std::nullopt;
        bytes += static_cast<char>(0x80 + (found - high.begin()));
    }
    return bytes;
}

bool newTextIsUtf8()
{
    return true;
}

#endif

} // namespace CodePage
