#include "ProfileFile.h"

#include <QList>
#include <QStringDecoder>
#include <QStringEncoder>

#include <array>
#include <optional>

namespace {

constexpr qsizetype MaxValueLength = 254;

// Where one line of the file lies: [begin, end) without its line end; next is where the
// following line starts.
struct Line
{
    qsizetype begin;
    qsizetype end;
    qsizetype next;
};

QList<Line> splitLines(const QByteArray &content)
{
    QList<Line> lines;
    qsizetype begin = 0;
    while (begin < content.size()) {
        const qsizetype newline = content.indexOf('\n', begin);
        if (newline < 0) {
            lines.append({begin, content.size(), content.size()});
            break;
        }
        const qsizetype end
            = newline > begin && content[newline - 1] == '\r' ? newline - 1 : newline;
        lines.append({begin, end, newline + 1});
        begin = newline + 1;
    }
    return lines;
}

// The characters a Western Windows machine writes for the bytes 0x80 to 0x9f; the bytes
// above are the same in Latin-1.
constexpr std::array<char16_t, 32> windows1252High
    = {0x20ac, 0x0081, 0x201a, 0x0192, 0x201e, 0x2026, 0x2020, 0x2021, 0x02c6, 0x2030, 0x0160,
       0x2039, 0x0152, 0x008d, 0x017d, 0x008f, 0x0090, 0x2018, 0x2019, 0x201c, 0x201d, 0x2022,
       0x2013, 0x2014, 0x02dc, 0x2122, 0x0161, 0x203a, 0x0153, 0x009d, 0x017e, 0x0178};

QString fromWindows1252(QByteArrayView bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        text += c >= 0x80 && c < 0xa0 ? QChar(windows1252High[c - 0x80]) : QChar(c);
    }
    return text;
}

// The file is text in the system's 8-bit code page; a line that is not valid in it was written
// by a Windows machine in its own code page.
QString decodeLine(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringConverter::System, QStringConverter::Flag::Stateless);
    const QString text = decoder(bytes);
    return decoder.hasError() ? fromWindows1252(bytes) : text;
}

QByteArray encodeText(const QString &text)
{
    QStringEncoder encoder(QStringConverter::System);
    return encoder(text);
}

QString lineText(const QByteArray &content, const Line &line, bool first)
{
    QByteArrayView bytes(content.constData() + line.begin, line.end - line.begin);
    if (first && bytes.startsWith("\xef\xbb\xbf"))
        bytes = bytes.sliced(3);
    return decodeLine(bytes).trimmed();
}

bool sameName(QStringView a, QStringView b)
{
    return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

// The section a header line opens, or nothing for any other line.
std::optional<QString> sectionName(const QString &text)
{
    if (!text.startsWith(QLatin1Char('[')))
        return std::nullopt;
    const qsizetype close = text.indexOf(QLatin1Char(']'));
    return text.mid(1, close < 0 ? -1 : close - 1);
}

bool isEntry(const QString &text, const QString &key)
{
    const qsizetype equals = text.indexOf(QLatin1Char('='));
    return equals > 0 && !text.startsWith(QLatin1Char(';'))
           && sameName(QStringView(text).left(equals), key);
}

// Where the entry's section and key lines stand, as indexes into the file's lines.
struct Place
{
    qsizetype section = -1;
    qsizetype key = -1;
    qsizetype sectionLast = -1; // last line of the section that is not blank
};

Place findEntry(const QByteArray &content,
                const QList<Line> &lines,
                const QString &section,
                const QString &key)
{
    Place place;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString text = lineText(content, lines[i], i == 0);
        if (const auto name = sectionName(text)) {
            if (place.section >= 0)
                break;
            if (sameName(*name, section))
                place.section = place.sectionLast = i;
            continue;
        }
        if (place.section < 0)
            continue;
        if (!text.isEmpty())
            place.sectionLast = i;
        if (isEntry(text, key)) {
            place.key = i;
            break;
        }
    }
    return place;
}

QString unquoted(const QString &value)
{
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'')
        && value.back() == value.front())
        return value.mid(1, value.size() - 2);
    return value;
}

QByteArray lineEndOf(const QByteArray &content)
{
    if (content.contains("\r\n"))
        return "\r\n";
    if (content.contains('\n'))
        return "\n";
#ifdef Q_OS_WIN
    return "\r\n";
#else
    return "\n";
#endif
}

QString singleLine(QString value)
{
    value.replace(QLatin1String("\r\n"), QLatin1String(" "));
    value.replace(QLatin1Char('\r'), QLatin1Char(' '));
    value.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return value;
}

// Windows Notepad saves a "Unicode" file as UTF-16 with a byte-order mark, and the Windows profile
// functions read and write such a file in UTF-16 throughout.
std::optional<QStringConverter::Encoding> utf16Of(const QByteArray &content)
{
    if (content.startsWith("\xff\xfe"))
        return QStringConverter::Utf16LE;
    if (content.startsWith("\xfe\xff"))
        return QStringConverter::Utf16BE;
    return std::nullopt;
}

// A UTF-16 file's text as UTF-8 without the mark, for the line rules that work on bytes.
QByteArray fromUtf16(const QByteArray &content, QStringConverter::Encoding encoding)
{
    QStringDecoder decoder(encoding);
    return QString(decoder(content)).toUtf8();
}

QByteArray toUtf16(const QByteArray &utf8, QStringConverter::Encoding encoding)
{
    QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
    return encoder(QString::fromUtf8(utf8));
}

QString readEntryIn(const QByteArray &content, const QString &section, const QString &key)
{
    const QList<Line> lines = splitLines(content);
    const Place place = findEntry(content, lines, section, key);
    if (place.key < 0)
        return {};
    const QString text = lineText(content, lines[place.key], place.key == 0);
    const QString value = unquoted(text.mid(text.indexOf(QLatin1Char('=')) + 1).trimmed());
    return value.left(MaxValueLength);
}

QByteArray writeEntryIn(const QByteArray &content,
                        const QString &section,
                        const QString &key,
                        const QString &value)
{
    const QByteArray eol = lineEndOf(content);
    const QByteArray encodedValue = encodeText(singleLine(value));
    const QList<Line> lines = splitLines(content);
    const Place place = findEntry(content, lines, section, key);
    QByteArray result = content;

    if (place.key >= 0) {
        // Keep the key as the file spells it, with its '=' and the spaces after it.
        const Line &line = lines[place.key];
        qsizetype valueStart = content.indexOf('=', line.begin) + 1;
        while (valueStart < line.end && (content[valueStart] == ' ' || content[valueStart] == '\t'))
            ++valueStart;
        return result.replace(valueStart, line.end - valueStart, encodedValue);
    }

    const QByteArray entry = encodeText(key) + '=' + encodedValue;
    if (place.section >= 0) {
        const Line &last = lines[place.sectionLast];
        if (last.next == last.end) // the file's last line, without a line end
            return result.insert(last.next, eol + entry);
        return result.insert(last.next, entry + eol);
    }

    if (!result.isEmpty() && !result.endsWith('\n'))
        result += eol;
    return result + '[' + encodeText(section) + ']' + eol + entry + eol;
}

} // namespace

namespace ProfileFile {

QString readEntry(const QByteArray &content, const QString &section, const QString &key)
{
    if (const auto utf16 = utf16Of(content))
        return readEntryIn(fromUtf16(content, *utf16), section, key);
    return readEntryIn(content, section, key);
}

QByteArray writeEntry(const QByteArray &content,
                      const QString &section,
                      const QString &key,
                      const QString &value)
{
    if (const auto utf16 = utf16Of(content))
        return toUtf16(writeEntryIn(fromUtf16(content, *utf16), section, key, value), *utf16);
    return writeEntryIn(content, section, key, value);
}

bool canRewrite(const QByteArray &content)
{
    const auto utf16 = utf16Of(content);
    return !utf16 || toUtf16(fromUtf16(content, *utf16), *utf16) == content;
}

} // namespace ProfileFile
