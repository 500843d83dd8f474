#pragma once

#include <QByteArray>
#include <QString>

#include <variant>

// Reading and changing one entry of a Windows profile (INI) file held in memory, the way the
// Windows profile functions do, so that a file written by either side reads the same on both.
// The file is UTF-16 throughout when it starts with a UTF-16 byte-order mark, UTF-8 when it is
// valid UTF-8, and 8-bit text in the Windows code page otherwise; it is written as it is read.
namespace ProfileFile {

// The value of key in section, as the profile reader hands it over: names match without regard
// to case or surrounding spaces, the first matching section and key win, one pair of surrounding
// quotes is removed and the value is cut to 254 characters. Empty when there is no such entry.
QString readEntry(const QByteArray &content, const QString &section, const QString &key);

// content with key in section set to value, every other byte kept as it was, or why that can't
// be: a UTF-16 file that is not valid UTF-16, a value the file's 8-bit code page can't hold. A
// missing key goes at the end of its section, a missing section at the end of the file. Line
// breaks in value become spaces, so a value can never split into two entries.
std::variant<QByteArray, QString> writeEntry(const QByteArray &content,
                                             const QString &section,
                                             const QString &key,
                                             const QString &value);

} // namespace ProfileFile
