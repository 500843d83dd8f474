// Reads and writes entries of any settings file. Every entry reads alike one at a time and all at
// once. A write may be refused, but one that is made changes no byte outside its entry's line
// (or the lines it adds), and reading it back gives the value written.
#include "ProfileFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// A value that the reader hands back exactly as written: no surrounding spaces or quotes, no
// line break or NUL, not longer than the reader's limit.
bool readsBackAsIs(const QString &value)
{
    if (value.size() > 254 || value != value.trimmed())
        return false;
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'')
        && value.back() == value.front())
        return false;
    for (const QChar c : value)
        if (c == u'\r' || c == u'\n' || c == u'\0')
            return false;
    return true;
}

bool isLineBreak(char c)
{
    return c == '\r' || c == '\n';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    // The first byte chooses the key and the length of the value that follows; the rest is the
    // file.
    static const char *const keys[] = {"IP", "Timeout", "Version", "ip"};
    const QString key = QString::fromLatin1(keys[data[0] & 3]);
    const qsizetype valueSize = std::min<qsizetype>(data[0] >> 2, static_cast<qsizetype>(size) - 1);
    const char *bytes = reinterpret_cast<const char *>(data) + 1;
    const QString value = QString::fromUtf8(bytes, valueSize);
    const QByteArray before(bytes + valueSize, static_cast<qsizetype>(size) - 1 - valueSize);

    for (const char *name : keys)
        ProfileFile::readEntry(before, QStringLiteral("Dreambox"), QString::fromLatin1(name));
    // The whole file read at once finds each entry as the reader of one entry does.
    const ProfileFile::Entries entries = ProfileFile::readEntries(before);
    for (auto entry = entries.cbegin(); entry != entries.cend(); ++entry)
        if (ProfileFile::readEntry(before, entry.key().first, entry->key) != entry->value)
            std::abort();

    const auto written
        = ProfileFile::writeEntries(before, QStringLiteral("Dreambox"), {{key, value}});
    const auto *after = std::get_if<QByteArray>(&written);
    if (!after)
        return 0;
    if (readsBackAsIs(value)
        && ProfileFile::readEntry(*after, QStringLiteral("Dreambox"), key) != value)
        std::abort();

    if (before.startsWith("\xff\xfe") || before.startsWith("\xfe\xff"))
        return 0; // re-encoded as a whole; the bytes of UTF-16 are not lines
    qsizetype prefix = 0;
    while (prefix < before.size() && prefix < after->size() && before[prefix] == (*after)[prefix])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < before.size() - prefix && suffix < after->size() - prefix
           && before[before.size() - 1 - suffix] == (*after)[after->size() - 1 - suffix])
        ++suffix;
    // What the write replaced lies within one line: the old value.
    for (qsizetype i = prefix; i < before.size() - suffix; ++i)
        if (isLineBreak(before[i]))
            std::abort();
    return 0;
}
