#pragma once

#include <QString>

// Where the settings file is read and written. A copy of Quillora in a folder the user can write
// keeps it next to the program. An installed copy, whose folder the user can't write, keeps the
// user's own file in the user's settings folder, and reads the file next to the program, where
// an administrator may leave defaults, until the user has saved.
class SettingsPlace
{
public:
    // Next to the program only; with perUser, the user's own file as above.
    SettingsPlace(const QString &besideProgram, const QString &perUser = {}); // NOLINT: implicit

    // The rule for a program in programFolder, with userFolder the folder that holds the user's
    // settings of all programs.
    static SettingsPlace forProgramIn(const QString &programFolder,
                                      const QString &userFolder,
                                      bool programFolderWritable);

    // The rule for this program: $XDG_CONFIG_HOME/Quillora/Tavrel.INI (~/.config/…), on Windows
    // %APPDATA%\Quillora\Tavrel.INI. A program in the folder it was installed to (/usr/bin)
    // counts as unwritable, whoever runs it.
    static SettingsPlace ofThisProgram();

    // The file to read: the user's own once it exists, else the one next to the program.
    QString readPath() const;
    // The file Save writes.
    QString writePath() const;
    // What a new file to write starts from: the file next to the program, where an installed
    // copy keeps its administrator's defaults; empty for a copy of the user's own.
    QString seedPath() const { return isPerUser() ? m_besideProgram : QString(); }
    bool isPerUser() const { return !m_perUser.isEmpty(); }

private:
    QString m_besideProgram;
    QString m_perUser;
};

// Whether the user can make files in folder: tried, since permissions alone don't tell (an
// administrator's folder on Windows, a read-only mount).
bool CanWriteIn(const QString &folder);
