#include "PublishFields.h"

#include <QString>

namespace PublishFields {

namespace {

constexpr std::chrono::seconds LongestLifetime = std::chrono::days(365);
constexpr std::chrono::seconds LongestDisplay = std::chrono::days(1);

// A whole number of ASCII digits alone, no sign, no space; nothing beyond max.
std::optional<qint64> wholeNumber(QStringView digits, qint64 max)
{
    if (digits.isEmpty() || digits.size() > 12)
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value <= max ? std::optional(value) : std::nullopt;
}

} // namespace

bool IsTopic(QStringView name)
{
    if (name.isEmpty() || name.size() > 64)
        return false;
    for (const QChar c : name)
        if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')
              || c == u'-' || c == u'_'))
            return false;
    return true;
}

std::optional<int> Priority(QStringView text)
{
    static const char *const words[] = {"min", "low", "default", "high", "max"};
    const QStringView trimmed = text.trimmed();
    if (const auto number = wholeNumber(trimmed, 5); number && *number >= 1)
        return int(*number);
    for (int level = 1; level <= 5; ++level)
        if (trimmed.compare(QLatin1String(words[level - 1]), Qt::CaseInsensitive) == 0)
            return level;
    if (trimmed.compare(QLatin1String("urgent"), Qt::CaseInsensitive) == 0)
        return 5;
    return std::nullopt;
}

std::optional<int> GotifyPriority(qint64 priority)
{
    if (priority < 0 || priority > 10)
        return std::nullopt;
    return priority <= 3 ? 2 : priority <= 7 ? 3 : 5;
}

std::optional<std::chrono::seconds> Lifetime(QStringView text)
{
    const QStringView trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    static const struct
    {
        char unit;
        qint64 seconds;
    } units[] = {{'s', 1}, {'m', 60}, {'h', 3600}, {'d', 86400}};
    qint64 scale = 1;
    QStringView digits = trimmed;
    for (const auto &unit : units)
        if (trimmed.back() == QLatin1Char(unit.unit)) {
            scale = unit.seconds;
            digits = trimmed.chopped(1);
        }
    const auto count = wholeNumber(digits, LongestLifetime.count());
    if (!count || *count == 0 || *count * scale > LongestLifetime.count())
        return std::nullopt;
    return std::chrono::seconds(*count * scale);
}

std::optional<std::chrono::seconds> DisplayTime(QStringView text)
{
    const auto seconds = wholeNumber(text.trimmed(), LongestDisplay.count());
    return seconds ? std::optional(std::chrono::seconds(*seconds)) : std::nullopt;
}

namespace {

// One encoded word's text (charset, B or Q, the encoded part), or nothing if it is no such word.
std::optional<QString> encodedWord(const QByteArray &charset, char encoding, const QByteArray &data)
{
    QByteArray bytes;
    if (encoding == 'B' || encoding == 'b') {
        const auto decoded
            = QByteArray::fromBase64Encoding(data, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return std::nullopt;
        bytes = *decoded;
    } else if (encoding == 'Q' || encoding == 'q') {
        for (qsizetype i = 0; i < data.size(); ++i) {
            if (data[i] == '_') {
                bytes += ' ';
            } else if (data[i] != '=') {
                bytes += data[i];
            } else {
                bool isHex = false;
                const int byte = data.mid(i + 1, 2).toInt(&isHex, 16);
                if (!isHex || i + 2 >= data.size())
                    return std::nullopt;
                bytes += char(byte);
                i += 2;
            }
        }
    } else {
        return std::nullopt;
    }
    const QByteArray set = charset.toLower();
    if (set == "utf-8" || set == "us-ascii")
        return QString::fromUtf8(bytes);
    if (set == "iso-8859-1" || set == "latin1")
        return QString::fromLatin1(bytes);
    return std::nullopt;
}

} // namespace

QString HeaderText(const QByteArray &value)
{
    QString text;
    qsizetype from = 0;
    bool afterWord = false; // white space between two encoded words is no part of the text
    while (from < value.size()) {
        const qsizetype start = value.indexOf("=?", from);
        const qsizetype first = start < 0 ? -1 : value.indexOf('?', start + 2);
        const qsizetype second = first < 0 ? -1 : value.indexOf('?', first + 1);
        const qsizetype end = second < 0 ? -1 : value.indexOf("?=", second + 1);
        const auto word = end < 0 || second != first + 2
                              ? std::nullopt
                              : encodedWord(value.mid(start + 2, first - start - 2),
                                            value[first + 1],
                                            value.mid(second + 1, end - second - 1));
        if (!word) {
            text += QString::fromUtf8(value.mid(from));
            break;
        }
        const QByteArray between = value.mid(from, start - from);
        if (!(afterWord && between.trimmed().isEmpty()))
            text += QString::fromUtf8(between);
        text += *word;
        afterWord = true;
        from = end + 2;
    }
    return text;
}

} // namespace PublishFields
