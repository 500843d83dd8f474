#pragma once

#include <QString>

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

} // namespace Module1
