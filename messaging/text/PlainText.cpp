#include "PlainText.h"

#include <optional>

namespace PlainText {

namespace {

// Characters that change how the text around them is laid out or read without showing
// themselves: bidi controls, line and paragraph separators (a forged line), zero-width ones
// and the tag characters (text nobody sees).
bool isInvisibleControl(char32_t c)
{
    return c == 0x061c || (c >= 0x200b && c <= 0x200f) || c == 0x2028 || c == 0x2029
           || (c >= 0x202a && c <= 0x202e) || c == 0x2060 || (c >= 0x2066 && c <= 0x2069)
           || c == 0xfeff || (c >= 0xe0000 && c <= 0xe007f);
}

QString hex(char32_t value, int digits)
{
    return QString::number(value, 16).toUpper().rightJustified(digits, u'0');
}

// Text being shown, with its length bounded.
class Shown
{
public:
    explicit Shown(qsizetype maxLength)
        : m_max(maxLength)
    {}

    bool full() const { return m_full; }

    void byte(quint8 value) { append(QStringLiteral("\\x") + hex(value, 2)); }

    void character(char32_t c)
    {
        if (c < 0x20 || (c >= 0x7f && c < 0xa0))
            return byte(quint8(c));
        if (isInvisibleControl(c) || (c >= 0xd800 && c <= 0xdfff)) // or half a surrogate pair
            return append(QStringLiteral("\\u{") + hex(c, 4) + u'}');
        const char32_t one[] = {c};
        append(QString::fromUcs4(one, 1));
    }

    QString take() { return std::move(m_text); }

private:
    // A text that fits is shown whole; a longer one is cut after the last part that leaves
    // room for the "…", so that an escape is never cut in two.
    void append(const QString &part)
    {
        if (m_full)
            return;
        if (m_text.size() + part.size() > m_max) {
            m_text.truncate(m_roomForMark);
            m_text += u'…';
            m_full = true;
            return;
        }
        m_text += part;
        if (m_text.size() <= m_max - 1)
            m_roomForMark = m_text.size();
    }

    QString m_text;
    qsizetype m_max;
    qsizetype m_roomForMark = 0; // where the text is cut if it does not fit
    bool m_full = false;
};

// The length of the UTF-8 sequence that starts with this byte, or 0 where none can.
int sequenceLength(quint8 lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xc2 && lead <= 0xdf)
        return 2;
    if (lead >= 0xe0 && lead <= 0xef)
        return 3;
    if (lead >= 0xf0 && lead <= 0xf4)
        return 4;
    return 0;
}

// The character of a whole sequence, or nothing where it is overlong, a surrogate or past
// U+10FFFF.
std::optional<char32_t> decode(QByteArrayView sequence)
{
    const auto byte = [&sequence](qsizetype i) {
        return static_cast<quint8>(sequence[i]);
    };
    char32_t c = sequence.size() == 1 ? byte(0) : byte(0) & (0xff >> (sequence.size() + 1));
    for (qsizetype i = 1; i < sequence.size(); ++i) {
        if ((byte(i) & 0xc0) != 0x80)
            return std::nullopt;
        c = (c << 6) | (byte(i) & 0x3f);
    }
    static constexpr char32_t lowest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (sequence.size() > 1
        && (c < lowest[sequence.size()] || (c >= 0xd800 && c <= 0xdfff) || c > 0x10ffff))
        return std::nullopt;
    return c;
}

} // namespace

QString from(QByteArrayView utf8, qsizetype maxLength)
{
    Shown shown(maxLength);
    for (qsizetype at = 0; at < utf8.size() && !shown.full();) {
        const int length = sequenceLength(static_cast<quint8>(utf8[at]));
        const auto c = length > 0 && at + length <= utf8.size() ? decode(utf8.sliced(at, length))
                                                                : std::nullopt;
        if (!c) {
            shown.byte(static_cast<quint8>(utf8[at++]));
            continue;
        }
        shown.character(*c);
        at += length;
    }
    return shown.take();
}

QString from(QStringView text, qsizetype maxLength)
{
    Shown shown(maxLength);
    for (qsizetype at = 0; at < text.size() && !shown.full(); ++at) {
        const QChar c = text[at];
        if (c.isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate()) {
            shown.character(QChar::surrogateToUcs4(c, text[at + 1]));
            ++at;
            continue;
        }
        shown.character(c.unicode());
    }
    return shown.take();
}

} // namespace PlainText
