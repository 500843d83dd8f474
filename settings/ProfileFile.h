#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <utility>
#include <variant>

// Reading and changing one entry of a Windows profile (INI) file held in memory, the way the
// Windows profile functions do, so that a file written by either side reads the same on both.
// The file is UTF-16 throughout when it starts with a UTF-16 byte-order mark, UTF-8 when it is
// valid UTF-8, and 8-bit text in the Windows code page otherwise; it is written as it is read.
namespace ProfileFile {

// One entry as the reader sees it: its key as the file spells it, and its value.
struct Entry
{
    QString key;
    QString value;
    int line = 0; // where it stands in the file, from 1, for a message about it
};

// Entries by section and key, both case-folded and without surrounding spaces.
using Entries = QHash<std::pair<QString, QString>, Entry>;

// The value of key in section, as the profile reader hands it over: names match without regard
// to case or surrounding spaces, the first matching section and key win, one pair of surrounding
// quotes is removed and the value is cut to 254 characters. Empty when there is no such entry.
QString readEntry(const QByteArray &content, const QString &section, const QString &key);

// Every entry of the file as readEntry finds it, each once.
Entries readEntries(const QByteArray &content);

// content with the keys in section set to their values, every other byte kept as it was, or why
// that can't be: a UTF-16 file that is not valid UTF-16, a value the file's 8-bit code page
// can't hold, a change that would make the file read as another encoding, so that an entry
// saved or any other would read differently. A missing key goes at the end of its section, a
// missing section at the end of the file. Line breaks in a value become spaces, so a value can
// never split into two entries. Nothing is written unless everything is.
std::variant<QByteArray, QString> writeEntries(const QByteArray &content,
                                               const QString &section,
                                               const QList<std::pair<QString, QString>> &entries);

} // namespace ProfileFile
