#include "ProfileFile.h"
#include "CodePage.h"

#include <QCoreApplication>
#include <QList>
#include <QSet>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <optional>

namespace {

using ProfileFile::Entries;

constexpr qsizetype MaxValueLength = 254;

// How the file's text is written. A UTF-16 file is handled as UTF-8 in between, so that the line
// rules below work on bytes alike for every file.
enum class Encoding { Utf8, Utf16LE, Utf16BE, EightBit };

// UTF-16 by its byte-order mark (Notepad's "Unicode"), then UTF-8 when the bytes are valid
// UTF-8, else the 8-bit code page. A file of plain ASCII is either; new text in it goes in the
// system's own way.
Encoding encodingOf(const QByteArray &content)
{
    if (content.startsWith("\xff\xfe"))
        return Encoding::Utf16LE;
    if (content.startsWith("\xfe\xff"))
        return Encoding::Utf16BE;
    if (std::all_of(content.begin(), content.end(), [](char c) { return c >= 0; }))
        return CodePage::newTextIsUtf8() ? Encoding::Utf8 : Encoding::EightBit;
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    (void)QString(decoder(content));
    return decoder.hasError() ? Encoding::EightBit : Encoding::Utf8;
}

bool isUtf16(Encoding encoding)
{
    return encoding == Encoding::Utf16LE || encoding == Encoding::Utf16BE;
}

QStringConverter::Encoding converterOf(Encoding encoding)
{
    return encoding == Encoding::Utf16LE ? QStringConverter::Utf16LE : QStringConverter::Utf16BE;
}

// A UTF-16 file's text as UTF-8 without the mark, and back.
QByteArray fromUtf16(const QByteArray &content, Encoding encoding)
{
    QStringDecoder decoder(converterOf(encoding));
    return QString(decoder(content)).toUtf8();
}

QByteArray toUtf16(const QByteArray &utf8, Encoding encoding)
{
    QStringEncoder encoder(converterOf(encoding), QStringConverter::Flag::WriteBom);
    return encoder(QString::fromUtf8(utf8));
}

// Where one line of the file lies: [begin, end) without its line end; next is where the
// following line starts. Lines end in CR LF, LF or a CR alone, as the Windows profile reader
// takes them.
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
        qsizetype end = begin;
        while (end < content.size() && content[end] != '\n' && content[end] != '\r')
            ++end;
        qsizetype next = end;
        if (next < content.size())
            next += content.mid(end, 2) == "\r\n" ? 2 : 1;
        lines.append({begin, end, next});
        begin = next;
    }
    return lines;
}

QByteArray lineEndOf(const QByteArray &content)
{
    const qsizetype newline = content.indexOf('\n');
    const qsizetype cr = content.indexOf('\r');
    if (cr >= 0 && (newline < 0 || cr < newline))
        return content.mid(cr, 2) == "\r\n" ? "\r\n" : "\r";
    if (newline >= 0)
        return "\n";
#ifdef Q_OS_WIN
    return "\r\n";
#else
    return "\n";
#endif
}

// The text files hold in between: UTF-8 (UTF-16 files included) or the 8-bit code page.
QString decodeText(QByteArrayView bytes, Encoding encoding)
{
    if (encoding == Encoding::EightBit)
        return CodePage::decode(bytes);
    // A byte-order mark is only one at the start of the file; elsewhere it is a character, as
    // in the code page, so that a line reads alike in either.
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::ConvertInitialBom
                               | QStringConverter::Flag::Stateless);
    return decoder(bytes);
}

std::optional<QByteArray> encodeText(const QString &text, Encoding encoding)
{
    return encoding == Encoding::EightBit ? CodePage::encode(text) : text.toUtf8();
}

// A line's text as the profile reader sees it: a NUL ends it.
QString lineText(const QByteArray &content, const Line &line, bool first, Encoding encoding)
{
    QByteArrayView bytes(content.constData() + line.begin, line.end - line.begin);
    if (first && bytes.startsWith("\xef\xbb\xbf"))
        bytes = bytes.sliced(3);
    if (const qsizetype nul = bytes.indexOf('\0'); nul >= 0)
        bytes.truncate(nul);
    return decodeText(bytes, encoding).trimmed();
}

// A name as the reader compares it: trimmed, each character folded on its own.
QString foldedName(QStringView name)
{
    const QStringView trimmed = name.trimmed();
    QString folded;
    for (qsizetype i = 0; i < trimmed.size(); ++i) {
        char32_t c = trimmed[i].unicode();
        if (trimmed[i].isHighSurrogate() && i + 1 < trimmed.size()
            && trimmed[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(trimmed[i], trimmed[i + 1]);
            ++i;
        }
        const char32_t one = QChar::toCaseFolded(c);
        if (QChar::requiresSurrogates(one)) {
            folded += QChar(QChar::highSurrogate(one));
            folded += QChar(QChar::lowSurrogate(one));
        } else {
            folded += QChar(static_cast<char16_t>(one));
        }
    }
    return folded;
}

bool sameName(QStringView a, QStringView b)
{
    return foldedName(a) == foldedName(b);
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
                Encoding encoding,
                const QString &section,
                const QString &key)
{
    Place place;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString text = lineText(content, lines[i], i == 0, encoding);
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

// The value of an entry line as the reader hands it over: without surrounding spaces and one
// pair of quotes, cut to 254 characters, and never between the halves of a character that
// takes two.
QString valueOf(const QString &entryLine)
{
    const QString value
        = unquoted(entryLine.mid(entryLine.indexOf(QLatin1Char('=')) + 1).trimmed());
    if (value.size() > MaxValueLength && value[MaxValueLength - 1].isHighSurrogate())
        return value.left(MaxValueLength - 1);
    return value.left(MaxValueLength);
}

QString singleLine(QString value)
{
    value.replace(QLatin1String("\r\n"), QLatin1String(" "));
    value.replace(QLatin1Char('\r'), QLatin1Char(' '));
    value.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return value;
}

QString readEntryIn(const QByteArray &content,
                    Encoding encoding,
                    const QString &section,
                    const QString &key)
{
    const QList<Line> lines = splitLines(content);
    const Place place = findEntry(content, lines, encoding, section, key);
    if (place.key < 0)
        return {};
    const QString text = lineText(content, lines[place.key], place.key == 0, encoding);
    return valueOf(text);
}

// Every entry of the file as the reader finds it: the first section of a name, the first key of
// a name within it.
Entries entriesIn(const QByteArray &content, Encoding encoding)
{
    Entries entries;
    QSet<QString> sections;
    std::optional<QString> section; // the section being read, unless an earlier one had its name
    const QList<Line> lines = splitLines(content);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString text = lineText(content, lines[i], i == 0, encoding);
        if (const auto name = sectionName(text)) {
            const QString folded = foldedName(*name);
            section = sections.contains(folded) ? std::nullopt : std::optional(folded);
            sections.insert(folded);
            continue;
        }
        const qsizetype equals = text.indexOf(QLatin1Char('='));
        if (!section || equals <= 0 || text.startsWith(QLatin1Char(';')))
            continue;
        const QString key = text.left(equals).trimmed();
        const std::pair<QString, QString> name{*section, foldedName(key)};
        if (!entries.contains(name))
            entries.insert(name, {key, valueOf(text), int(i + 1)});
    }
    return entries;
}

QString tr(const char *text)
{
    return QCoreApplication::translate("Module1", text);
}

std::variant<QByteArray, QString> writeEntryIn(const QByteArray &content,
                                               Encoding encoding,
                                               const QString &section,
                                               const QString &key,
                                               const QString &value)
{
    const QByteArray eol = lineEndOf(content);
    const auto encodedValue = encodeText(singleLine(value), encoding);
    const auto encodedKey = encodeText(key, encoding);
    const auto encodedSection = encodeText(section, encoding);
    if (!encodedValue || !encodedKey || !encodedSection)
        return tr("the file is written in %1, which has no place for some of the characters "
                  "of \"%2\"")
            .arg(CodePage::name(), value);
    const QList<Line> lines = splitLines(content);
    const Place place = findEntry(content, lines, encoding, section, key);
    QByteArray result = content;

    if (place.key >= 0) {
        // Keep the key as the file spells it, with its '=' and the spaces after it.
        const Line &line = lines[place.key];
        qsizetype valueStart = content.indexOf('=', line.begin) + 1;
        while (valueStart < line.end && (content[valueStart] == ' ' || content[valueStart] == '\t'))
            ++valueStart;
        return result.replace(valueStart, line.end - valueStart, *encodedValue);
    }

    const QByteArray entry = *encodedKey + '=' + *encodedValue;
    if (place.section >= 0) {
        const Line &last = lines[place.sectionLast];
        if (last.next == last.end) // the file's last line, without a line end
            return result.insert(last.next, eol + entry);
        return result.insert(last.next, entry + eol);
    }

    if (!result.isEmpty() && !result.endsWith('\n') && !result.endsWith('\r'))
        result += eol;
    return result + '[' + *encodedSection + ']' + eol + entry + eol;
}

} // namespace

namespace ProfileFile {

QString readEntry(const QByteArray &content, const QString &section, const QString &key)
{
    const Encoding encoding = encodingOf(content);
    if (isUtf16(encoding))
        return readEntryIn(fromUtf16(content, encoding), Encoding::Utf8, section, key);
    return readEntryIn(content, encoding, section, key);
}

Entries readEntries(const QByteArray &content)
{
    const Encoding encoding = encodingOf(content);
    if (isUtf16(encoding))
        return entriesIn(fromUtf16(content, encoding), Encoding::Utf8);
    return entriesIn(content, encoding);
}

std::variant<QByteArray, QString> writeEntries(const QByteArray &content,
                                               const QString &section,
                                               const QList<std::pair<QString, QString>> &entries)
{
    const Encoding encoding = encodingOf(content);
    QByteArray text = content;
    if (isUtf16(encoding)) {
        // Rewriting is only safe when the file's text survives the round trip through UTF-8.
        text = fromUtf16(content, encoding);
        if (toUtf16(text, encoding) != content)
            return tr("the file is not valid UTF-16 text");
    }
    for (const auto &[key, value] : entries) {
        auto written = writeEntryIn(
            text, isUtf16(encoding) ? Encoding::Utf8 : encoding, section, key, value);
        if (const QString *why = std::get_if<QString>(&written))
            return *why;
        text = std::get<QByteArray>(std::move(written));
    }
    const QByteArray result = isUtf16(encoding) ? toUtf16(text, encoding) : text;

    // The file must read back as it was, but for the entries saved: 8-bit text that happens to
    // form valid UTF-8 would read as UTF-8, the entries written and the others alike.
    Entries before = readEntries(content);
    const Entries after = readEntries(result);
    for (const auto &[key, value] : entries) {
        const std::pair<QString, QString> name{foldedName(section), foldedName(key)};
        const QString expected = readEntryIn("[s]\nk=" + singleLine(value).toUtf8(),
                                             Encoding::Utf8,
                                             QStringLiteral("s"),
                                             QStringLiteral("k"));
        if (after.value(name).value != expected)
            return tr("the file is written in %1, and \"%2\" would make it read as another "
                      "encoding")
                .arg(CodePage::name(), value);
        before.remove(name);
    }
    for (auto entry = before.cbegin(); entry != before.cend(); ++entry) {
        if (after.value(entry.key()).value != entry->value)
            return tr("the file is written in %1, and saving would change what its entry "
                      "\"%2\" says")
                .arg(CodePage::name(), entry->key);
    }
    return result;
}

} // namespace ProfileFile
