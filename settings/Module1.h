#pragma once

#include <QList>
#include <QString>

#include <utility>

// Access to the settings file. Every call opens, reads or replaces, and closes the file:
// nothing is cached, so what another program wrote meanwhile is always seen.
namespace Module1 {

// The entry's value without surrounding spaces; empty when the file, section or key is missing
// or the file can't be read.
QString ReadIniEntry(const QString &iniPath, const QString &section, const QString &key);

// Why the settings file can't be read (missing, unreadable, not a regular file), or empty.
QString SettingsFileUnreadable(const QString &iniPath);

// Stores the entry and leaves the rest of the file as it was. The file is replaced as a whole,
// so a failed write leaves the earlier file untouched. Returns why the file could not be
// written, or an empty text when it was.
QString WriteIniEntry(const QString &iniPath,
                      const QString &section,
                      const QString &key,
                      const QString &value);

// Stores the entries in one replacement of the file: all of them, or, when one can't be, none.
// A file that does not exist yet starts as a copy of startFrom, when that names a file.
QString WriteIniEntries(const QString &iniPath,
                        const QString &section,
                        const QList<std::pair<QString, QString>> &entries,
                        const QString &startFrom = {});

// Whether users other than the owner may read the file: on Unix, by its mode. Elsewhere false: a
// user's own folders on Windows keep others out.
bool OthersCanRead(const QString &iniPath);

// Makes the folder and every missing folder above it, each readable by its owner only (on Unix,
// mode 0700), since the settings in them may hold a password. True when the folder is there.
bool MakePrivateFolder(const QString &folder);

} // namespace Module1
