#include "CodePage.h"
#include "Module1.h"
#include "ProfileFile.h"
#include "ReplacementFile.h"
#include "SettingsCommands.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

#ifdef Q_OS_UNIX
#include "FifoWatchdog.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// A settings file as an older Windows installation left it.
const QByteArray WindowsFile = "; written on Windows\r\n"
                               "[Other]\r\n"
                               "IP=10.0.0.1\r\n"
                               "\r\n"
                               "[DREAMBOX]\r\n"
                               "  ip = 192.168.1.20  \r\n"
                               "Timeout=\"10\"\r\n"
                               "Version='V2.1 \xe9"
                               "dition \x80'\r\n"
                               "\r\n"
                               "[Tail]\r\n"
                               "x=1\r\n";

// A text as Windows Notepad saves it in "Unicode": UTF-16 with its byte-order mark.
QByteArray utf16(const QString &text, QStringConverter::Encoding encoding)
{
    QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
    return encoder(text);
}

const QString NotepadText = QString::fromUtf8("; Notepad\r\n[Dreambox]\r\nIP=192.168.1.20\r\n"
                                              "Version=\u00c9dition \u2713 \U0001F4FA\r\n");

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// A new file's line ends are the system's own.
#ifdef Q_OS_WIN
const QByteArray NewLine = "\r\n";
#else
const QByteArray NewLine = "\n";
#endif

// The file after the write, or "refused" when the writer would not write it.
QByteArray written(const QByteArray &content, const QString &key, const QString &value)
{
    const auto result = ProfileFile::writeEntries(content, "Dreambox", {{key, value}});
    return std::holds_alternative<QByteArray>(result) ? std::get<QByteArray>(result) : "refused";
}

bool writeAll(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void readEntry_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("windows file, spaced key") << WindowsFile << "IP"
                                                  << "192.168.1.20";
        QTest::newRow("windows file, quoted") << WindowsFile << "Timeout"
                                              << "10";
        QTest::newRow("windows file, code page 1252")
            << WindowsFile << "Version" << QString::fromUtf8("V2.1 édition €");
        QTest::newRow("utf-8") << QByteArray("[Dreambox]\nVersion=Caf\xc3\xa9\n") << "Version"
                               << QString::fromUtf8("Café");
        QTest::newRow("utf-8 mark") << QByteArray("\xef\xbb\xbf[Dreambox]\nIP=a\n") << "IP"
                                    << "a";
        QTest::newRow("utf-16 LE") << utf16(NotepadText, QStringConverter::Utf16LE) << "Version"
                                   << QString::fromUtf8("\u00c9dition \u2713 \U0001F4FA");
        QTest::newRow("utf-16 BE") << utf16(NotepadText, QStringConverter::Utf16BE) << "IP"
                                   << "192.168.1.20";
        QTest::newRow("no line end") << QByteArray("[Dreambox]\nIP=a") << "IP"
                                     << "a";
        QTest::newRow("spaced section") << QByteArray("[ dreamBOX ]\nIP=a\n") << "IP"
                                        << "a";
        QTest::newRow("first key wins") << QByteArray("[Dreambox]\nIP=a\nIP=b\n") << "IP"
                                        << "a";
        QTest::newRow("first section wins")
            << QByteArray("[Dreambox]\nTimeout=1\n[Dreambox]\nIP=b\n") << "IP" << QString();
        QTest::newRow("other section")
            << QByteArray("[Other]\nIP=a\n[Dreambox]\n") << "IP" << QString();
        QTest::newRow("before any section")
            << QByteArray("IP=a\n[Dreambox]\n") << "IP" << QString();
        QTest::newRow("comment") << QByteArray("[Dreambox]\n;IP=a\n") << "IP" << QString();
        QTest::newRow("no equals sign") << QByteArray("[Dreambox]\nIP\n") << "IP" << QString();
        QTest::newRow("empty value") << QByteArray("[Dreambox]\nIP=\n") << "IP" << QString();
        QTest::newRow("value with equals") << QByteArray("[Dreambox]\nIP=a=b\n") << "IP"
                                           << "a=b";
        QTest::newRow("quotes keep spaces") << QByteArray("[Dreambox]\nIP=\" a \"\n") << "IP"
                                            << " a ";
        QTest::newRow("unmatched quotes") << QByteArray("[Dreambox]\nIP=\"a'\n") << "IP"
                                          << "\"a'";
        QTest::newRow("empty file") << QByteArray() << "IP" << QString();
        QTest::newRow("8-bit file, utf-8 line")
            << QByteArray("[Dreambox]\nIP=\xe9\nVersion=\xc3\xa9\n") << "Version"
            << QString::fromUtf8("\u00c3\u00a9");
        QTest::newRow("lines end in CR") << QByteArray("[Dreambox]\rTimeout=5\rIP=a\r") << "IP"
                                         << "a";
        QTest::newRow("NUL ends the value") << QByteArray("[Dreambox]\nIP=a\0junk\n", 21) << "IP"
                                            << "a";
        QTest::newRow("254 characters kept") << "[Dreambox]\nIP=" + QByteArray(254, 'x') + "\n"
                                             << "IP" << QString(254, 'x');
        QTest::newRow("255 cut to 254") << "[Dreambox]\nIP=" + QByteArray(254, 'x') + "y\n"
                                        << "IP" << QString(254, 'x');
        QTest::newRow("cut keeps a character that takes two whole")
            << "[Dreambox]\nIP=" + QByteArray(253, 'x') + "\xf0\x9f\x93\xba\n"
            << "IP" << QString(253, 'x');
        QTest::newRow("character that takes two just fits")
            << "[Dreambox]\nIP=" + QByteArray(252, 'x') + "\xf0\x9f\x93\xbay\n"
            << "IP" << QString(252, 'x') + QString::fromUtf8("\xf0\x9f\x93\xba");
    }

    void readEntry()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QCOMPARE(ProfileFile::readEntry(content, "Dreambox", key), value);
    }

    void writeEntry_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("new file") << QByteArray() << "IP"
                                  << "a"
                                  << "[Dreambox]" + NewLine + "IP=a" + NewLine;
        QTest::newRow("replace in windows file")
            << WindowsFile << "IP"
            << "192.168.1.30"
            << QByteArray(WindowsFile).replace("ip = 192.168.1.20  ", "ip = 192.168.1.30");
        QTest::newRow("replace quoted")
            << WindowsFile << "Timeout"
            << "5" << QByteArray(WindowsFile).replace("Timeout=\"10\"", "Timeout=5");
        QTest::newRow("add key before blank line and next section")
            << QByteArray("[Dreambox]\r\nIP=a\r\n\r\n[Other]\r\nx=1\r\n") << "Timeout"
            << "5" << QByteArray("[Dreambox]\r\nIP=a\r\nTimeout=5\r\n\r\n[Other]\r\nx=1\r\n");
        QTest::newRow("add key to last line without line end")
            << QByteArray("[Dreambox]\nIP=a") << "Timeout"
            << "5" << QByteArray("[Dreambox]\nIP=a\nTimeout=5");
        QTest::newRow("add key to empty section")
            << QByteArray("[dreambox]\n[Other]\n") << "IP"
            << "a" << QByteArray("[dreambox]\nIP=a\n[Other]\n");
        QTest::newRow("add section, keep line ends")
            << QByteArray("; c\r\n[Other]\r\nx=1\r\n") << "IP"
            << "a" << QByteArray("; c\r\n[Other]\r\nx=1\r\n[Dreambox]\r\nIP=a\r\n");
        QTest::newRow("add section after missing line end")
            << QByteArray("[Other]\nx=1") << "IP"
            << "a" << QByteArray("[Other]\nx=1\n[Dreambox]\nIP=a\n");
        QTest::newRow("utf-16 LE, replace")
            << utf16(NotepadText, QStringConverter::Utf16LE) << "IP"
            << "192.168.1.30"
            << utf16(QString(NotepadText).replace("168.1.20", "168.1.30"),
                     QStringConverter::Utf16LE);
        QTest::newRow("utf-16 BE, add key")
            << utf16(NotepadText, QStringConverter::Utf16BE) << "Timeout"
            << QString::fromUtf8("z\u00e9hn")
            << utf16(NotepadText + QString::fromUtf8("Timeout=z\u00e9hn\r\n"),
                     QStringConverter::Utf16BE);
        QTest::newRow("line breaks become spaces")
            << QByteArray() << "IP"
            << "a\r\nb\nc\rd"
            << "[Dreambox]" + NewLine + "IP=a b c d" + NewLine;
        QTest::newRow("8-bit file, 8-bit value")
            << QByteArray("[Dreambox]\nIP=caf\xe9\n") << "IP"
            << QString::fromUtf8("h\u00f4te.local") << QByteArray("[Dreambox]\nIP=h\xf4te.local\n");
        QTest::newRow("utf-8 file, utf-8 value")
            << QByteArray("[Dreambox]\nVersion=Caf\xc3\xa9\nIP=a\n") << "IP"
            << QString::fromUtf8("h\u00f4te")
            << QByteArray("[Dreambox]\nVersion=Caf\xc3\xa9\nIP=h\xc3\xb4te\n");
        QTest::newRow("8-bit file lacks the character")
            << QByteArray("[Dreambox]\nIP=caf\xe9\n") << "IP" << QString::fromUtf8("\u2713")
            << QByteArray("refused");
        QTest::newRow("8-bit value that would read as utf-8")
            << QByteArray("[Dreambox]\nIP=caf\xe9\n") << "IP" << QString::fromUtf8("\u00c3\u00a9")
            << QByteArray("refused");
        QTest::newRow("8-bit file would read another entry as utf-8")
            << QByteArray("[Dreambox]\nIP=caf\xe9\nVersion=\xc3\xa9\n") << "IP"
            << "tv" << QByteArray("refused");
        QTest::newRow("8-bit file keeps reading as 8-bit")
            << QByteArray("[Dreambox]\nIP=caf\xe9\nVersion=\xc3\xa9 \xe9\n") << "IP"
            << "tv" << QByteArray("[Dreambox]\nIP=tv\nVersion=\xc3\xa9 \xe9\n");
        QTest::newRow("last line ends in a bare CR")
            << QByteArray("[Dreambox]\nIP=192.168.1.20\r") << "IP"
            << "10.0.0.1" << QByteArray("[Dreambox]\nIP=10.0.0.1\r");
        QTest::newRow("lines end in CR") << QByteArray("[Dreambox]\rIP=a\r") << "Timeout"
                                         << "5" << QByteArray("[Dreambox]\rIP=a\rTimeout=5\r");
        QTest::newRow("NUL and what follows replaced")
            << QByteArray("[Dreambox]\nIP=a\0junk\nX=1\n", 25) << "IP"
            << "b" << QByteArray("[Dreambox]\nIP=b\nX=1\n");
        QTest::newRow("comment that looks like the key")
            << QByteArray("[Dreambox]\n;IP=old\n") << "IP"
            << "a" << QByteArray("[Dreambox]\n;IP=old\nIP=a\n");
    }

    void writeEntry()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        QCOMPARE(written(before, key, value), after);
    }

    // Whatever a file holds, reading never fails and what was written is what is read back.
    void anyFileReadsBackWhatWasWritten()
    {
        const QList<QByteArray> pieces = {"[Dreambox]",
                                          "[ DREAMBOX ]",
                                          "[Other]",
                                          "[Dreambox",
                                          "IP=1",
                                          " ip = 2 ",
                                          ";IP=3",
                                          "Timeout",
                                          "=",
                                          "",
                                          "\r",
                                          "\xef\xbb\xbf",
                                          "\xff\xfe",
                                          "\x80\xe9",
                                          "\xc3\xa9",
                                          "\0"};
        auto *random = QRandomGenerator::global();
        for (int n = 0; n < 3000; ++n) {
            QByteArray content;
            for (int i = random->bounded(8); i > 0; --i) {
                content += pieces.at(random->bounded(static_cast<int>(pieces.size())));
                if (random->bounded(3) > 0)
                    content += random->bounded(2) ? "\n" : "\r\n";
            }
            for (int i = random->bounded(3); i > 0; --i)
                content.insert(random->bounded(content.size() + 1), char(random->bounded(256)));
            ProfileFile::readEntry(content, "Dreambox", "IP");
            const QByteArray after = written(content, "IP", "new value");
            // Left as they are: a UTF-16 file that is not valid UTF-16, and an 8-bit file that
            // the write would turn into one read as UTF-8.
            QStringDecoder utf8(QStringConverter::Utf8);
            (void)QString(utf8(content));
            if (after == "refused" && utf8.hasError())
                continue;
            QVERIFY2(ProfileFile::readEntry(after, "Dreambox", "IP") == "new value",
                     content.toPercentEncoding().constData());
        }
    }

    void readIniEntryTrimsAndFailsQuietly()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tavrel.INI");
        QCOMPARE(Module1::ReadIniEntry(path, "Dreambox", "IP"), QString());
        QVERIFY(writeAll(
            path, "[Dreambox]\nIP=\"  192.0.2.1  \"\nTimeout=" + QByteArray(253, 'x') + "  y\n"));
        QCOMPARE(Module1::ReadIniEntry(path, "Dreambox", "IP"), "192.0.2.1");
        QCOMPARE(Module1::ReadIniEntry(path, "Dreambox", "Timeout"), QString(253, 'x'));
        QVERIFY(QFile::remove(path) && QDir(dir.path()).mkdir("Tavrel.INI"));
        QCOMPARE(Module1::ReadIniEntry(path, "Dreambox", "IP"), QString());
    }

    void writeIniEntryKeepsTheRestOfTheFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tavrel.INI");
        QCOMPARE(Module1::WriteIniEntry(path, "Dreambox", "Timeout", "7"), QString());
        QCOMPARE(readAll(path), written({}, "Timeout", "7"));
        QVERIFY(writeAll(path, WindowsFile));
        QCOMPARE(Module1::WriteIniEntry(path, "Dreambox", "Timeout", "7"), QString());
        QCOMPARE(readAll(path), QByteArray(WindowsFile).replace("Timeout=\"10\"", "Timeout=7"));
    }

    void failedWriteLeavesTheFileAndSaysWhy_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("missing folder") << "missing/Tavrel.INI";
        QTest::newRow("folder in the file's place") << "folder";
    }

    void failedWriteLeavesTheFileAndSaysWhy()
    {
        QFETCH(QString, name);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("folder"));
        const QString path = dir.filePath(name);
        QVERIFY(!Module1::WriteIniEntry(path, "Dreambox", "IP", "a").isEmpty());
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"folder"});
        QVERIFY(QDir(dir.filePath("folder")).isEmpty());
    }

    void onlyARegularFileIsReadOrReplaced_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("folder") << "folder";
#ifdef Q_OS_UNIX
        QTest::newRow("pipe") << "pipe";
        QTest::newRow("link to a device") << "device";
#endif
    }

    // Reading a pipe or a device would wait or never end, and replacing it would lose it.
    void onlyARegularFileIsReadOrReplaced()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath("Tavrel.INI");
        if (kind == "folder")
            QVERIFY(QDir(dir.path()).mkdir("Tavrel.INI"));
#ifdef Q_OS_UNIX
        std::optional<FifoWatchdog> pipe;
        if (kind == "pipe")
            QVERIFY(pipe.emplace(path).made());
        if (kind == "device")
            QVERIFY(QFile::link("/dev/null", path));
#endif

        QCOMPARE(Module1::ReadIniEntry(path, "Dreambox", "IP"), QString());
        QCOMPARE(Module1::SettingsFileUnreadable(path), "not a regular file");
        QCOMPARE(Module1::WriteIniEntry(path, "Dreambox", "IP", "a"), "not a regular file");
#ifdef Q_OS_UNIX
        QVERIFY(!pipe || pipe->stop());
#endif
        QVERIFY(QFileInfo::exists(path) && !QFileInfo(path).isFile());
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
                 QStringList{"Tavrel.INI"});
    }

    // A UTF-16 file that is not valid UTF-16 can't be rewritten without changing other bytes.
    void brokenUtf16FileIsNotReplaced()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tavrel.INI");
        const QByteArray broken = utf16("[Dreambox]\r\nIP=a\r\n", QStringConverter::Utf16LE)
                                  + QByteArray("\x00\xd8x", 3); // a lone surrogate, an odd byte
        QVERIFY(writeAll(path, broken));
        QVERIFY(!Module1::WriteIniEntry(path, "Dreambox", "IP", "b").isEmpty());
        QCOMPARE(readAll(path), broken);
        QCOMPARE(Module1::ReadIniEntry(path, "Dreambox", "IP"), "a");
    }

    // An 8-bit file is Windows-1252 where the system's own text is UTF-8; on Windows set to
    // UTF-8 as its code page it would otherwise not read, nor take a single save.
    void eightBitFileOnAUtf8System()
    {
#ifdef Q_OS_WIN
        qInfo("ANSI code page: %u", GetACP());
        if (GetACP() != CP_UTF8 && GetACP() != 1252)
            QSKIP("this system's 8-bit code page is another");
        QCOMPARE(CodePage::name(), "code page 1252");
#else
        QCOMPARE(CodePage::name(), "Windows-1252");
#endif
        QCOMPARE(CodePage::decode("Ger\xe4t \x80"), QString::fromUtf8("Gerät €"));
        QCOMPARE(written("[Dreambox]\nIP=caf\xe9\n", "IP", QString::fromUtf8("Gerät €")),
                 "[Dreambox]\nIP=Ger\xe4t \x80\n");
        QCOMPARE(written("[Dreambox]\nIP=caf\xe9\n", "Timeout", "10"),
                 "[Dreambox]\nIP=caf\xe9\nTimeout=10\n");
    }

    void saveIsOneReplacement_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QStringList>("typed");    // address, timeout
        QTest::addColumn<QStringList>("messages"); // FILE: the file's name
        QTest::addColumn<QByteArray>("after");     // same: as before
        const QByteArray file = "[Dreambox]\r\nIP=old\r\nVersion=Ger\xe4t\r\n";
        const QString lacks = "the file is written in %1, which has no place for some of the "
                              "characters of \"%2\"";
        QTest::newRow("both stored") << file << QStringList{"tv", "10"} << QStringList{}
                                     << QByteArray("[Dreambox]\r\nIP=tv\r\nVersion=Ger\xe4t\r\n"
                                                   "Timeout=10\r\n");
        QTest::newRow("timeout the file can't hold")
            << file << QStringList{"tv", "10\u2713"}
            << QStringList{"Settings not saved (address and timeout): FILE: "
                           + lacks.arg(CodePage::name(), "10\u2713")}
            << QByteArray("same");
        QTest::newRow("address the file can't hold, no timeout")
            << file << QStringList{"tv\u2713", ""}
            << QStringList{"No Timeout value set, Try again",
                           "Settings not saved (address): FILE: "
                               + lacks.arg(CodePage::name(), "tv\u2713")}
            << QByteArray("same");
        QTest::newRow("no address, timeout the file can't hold")
            << file << QStringList{"", "\u2713"}
            << QStringList{"Ip to DreamBox is missing, Try again",
                           "Settings not saved (timeout): FILE: "
                               + lacks.arg(CodePage::name(), "\u2713")}
            << QByteArray("same");
        QTest::newRow("another entry would read differently")
            << QByteArray("[Dreambox]\r\nIP=caf\xe9\r\nVersion=\xc3\xa9\r\n")
            << QStringList{"tv", "5"}
            << QStringList{"Settings not saved (address and timeout): FILE: the file is "
                           "written in "
                           + CodePage::name()
                           + ", and saving would change what "
                             "its entry \"Version\" says"}
            << QByteArray("same");
    }

    // Address and timeout are stored together or not at all, and the message says which.
    void saveIsOneReplacement()
    {
        QFETCH(QByteArray, before);
        QFETCH(QStringList, typed);
        QFETCH(QStringList, messages);
        QFETCH(QByteArray, after);
        QTemporaryDir dir;
        const QString path = dir.filePath("Tavrel.INI");
        QVERIFY(writeAll(path, before));
        messages.replaceInStrings("FILE", QDir::toNativeSeparators(path));
        QCOMPARE(SaveSettings(SettingsPlace(path), typed[0], typed[1]), messages);
        QCOMPARE(readAll(path), after == "same" ? before : after);
    }

    void settingsPlace_data()
    {
        QTest::addColumn<bool>("programFolderWritable");
        QTest::addColumn<bool>("userFileExists");
        QTest::addColumn<QString>("read"); // beside: next to the program; user: the user's own
        QTest::addColumn<QString>("written");
        QTest::newRow("portable copy") << true << false << "beside"
                                       << "beside";
        QTest::newRow("portable copy, user file ignored") << true << true << "beside"
                                                          << "beside";
        QTest::newRow("installed, defaults next to the program") << false << false << "beside"
                                                                 << "user";
        QTest::newRow("installed, user file wins") << false << true << "user"
                                                   << "user";
    }

    void settingsPlace()
    {
        QFETCH(bool, programFolderWritable);
        QFETCH(bool, userFileExists);
        QFETCH(QString, read);
        QFETCH(QString, written);
        QTemporaryDir program;
        QTemporaryDir user; // stands for $XDG_CONFIG_HOME or %APPDATA%
        const QString beside = program.filePath("Tavrel.INI");
        const QString own = QDir::toNativeSeparators(user.filePath("Quillora/Tavrel.INI"));
        QVERIFY(writeAll(beside,
                         "; the administrator's defaults\n[Dreambox]\nIP=defaults\n"
                         "Timeout=5\nVersion=V2 site\n[Site]\nx=1\n"));
        if (userFileExists) {
            QVERIFY(QDir(user.path()).mkdir("Quillora"));
            QVERIFY(writeAll(own, "[Dreambox]\nIP=own\n"));
        }
        const SettingsPlace place = SettingsPlace::forProgramIn(
            QDir::toNativeSeparators(program.path()), user.path(), programFolderWritable);
        QCOMPARE(QDir::fromNativeSeparators(place.readPath()),
                 QDir::fromNativeSeparators(read == "beside" ? beside : own));
        QCOMPARE(LoadSettings(place.readPath()).address, read == "beside" ? "defaults" : "own");

        // Save makes the user's folder when it is missing and names the file it wrote.
        QCOMPARE(SaveSettings(place, "192.0.2.9", "7"), QStringList());
        QCOMPARE(QDir::fromNativeSeparators(place.writePath()),
                 QDir::fromNativeSeparators(written == "beside" ? beside : own));
        QCOMPARE(LoadSettings(place.readPath()).address, "192.0.2.9");
        QCOMPARE(LoadSettings(beside).address, written == "beside" ? "192.0.2.9" : "defaults");
        // The user's first own file starts from the administrator's; a later one is the user's.
        QCOMPARE(LoadSettings(place.readPath()).version,
                 userFileExists && written == "user" ? "" : "V2 site");
        QCOMPARE(Module1::ReadIniEntry(place.readPath(), "Site", "x"),
                 userFileExists && written == "user" ? "" : "1");
    }

    void saveNamesTheFileItCouldNotWrite()
    {
        QTemporaryDir user;
        QVERIFY(writeAll(user.filePath("Quillora"), "a file where the folder should be"));
        const SettingsPlace place = SettingsPlace::forProgramIn("/nowhere", user.path(), false);
        const QStringList messages = SaveSettings(place, "192.0.2.9", "7");
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages.first().startsWith(
                     "Settings not saved (address and timeout): "
                     + QDir::toNativeSeparators(user.filePath("Quillora/Tavrel.INI")) + ": "),
                 qPrintable(messages.first()));
    }

    void canWriteInTellsAReadOnlyFolder()
    {
        QTemporaryDir dir;
        QVERIFY(CanWriteIn(dir.path()));
        QVERIFY(QDir(dir.path()).isEmpty());
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        const bool writable = CanWriteIn(dir.path());
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (writable && QFileInfo(dir.path()).isWritable())
            QSKIP("this folder's permissions don't keep this user out (root; or Windows, where a "
                  "folder's read-only attribute doesn't)");
        QVERIFY(!writable);
    }

    // A file the user made read-only (on Windows its read-only attribute) stays as it is.
    void readOnlyFileIsKept()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tavrel.INI");
        QVERIFY(writeAll(path, WindowsFile));
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadUser));
        if (QFileInfo(path).isWritable())
            QSKIP("this user may write any file, so no file is read-only to it");
        QCOMPARE(Module1::WriteIniEntry(path, "Dreambox", "IP", "a"), "the file is read-only");
        QCOMPARE(readAll(path), WindowsFile);
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
    }

#ifdef Q_OS_UNIX
    void filesThatMayHoldAPasswordArePrivate_data()
    {
        QTest::addColumn<int>("before");      // the file's mode before the save; 0: no file
        QTest::addColumn<bool>("otherOwner"); // the file belongs to another user and group
        QTest::addColumn<int>("after");
        QTest::newRow("new file in a new folder") << 0 << false << 0600;
        QTest::newRow("replaced file keeps its mode") << 0644 << false << 0644;
        QTest::newRow("replaced private file") << 0600 << false << 0600;
        QTest::newRow("replaced file keeps its owner and group") << 0664 << true << 0664;
    }

    // A new settings file and its folder are the user's alone; a file that is replaced keeps
    // who may read it.
    void filesThatMayHoldAPasswordArePrivate()
    {
        QFETCH(int, before);
        QFETCH(bool, otherOwner);
        QFETCH(int, after);
        if (otherOwner && ::geteuid() != 0)
            QSKIP("only root can give a file to another user");
        QTemporaryDir user; // stands for $XDG_CONFIG_HOME
        const QString folder = user.filePath("Quillora");
        const QString path = folder + "/Tavrel.INI";
        const QByteArray file = QFile::encodeName(path);
        if (before) {
            QVERIFY(QDir(user.path()).mkdir("Quillora"));
            QVERIFY(writeAll(path, "[Dreambox]\nIP=a\n"));
            QVERIFY(::chmod(file.constData(), static_cast<mode_t>(before)) == 0);
            QVERIFY(!otherOwner || ::chown(file.constData(), 65534, 65534) == 0);
        }
        const mode_t mask = ::umask(022);
        const QStringList messages = SaveSettings(
            SettingsPlace::forProgramIn("/nowhere", user.path(), false), "root:pw@tv", "5");
        ::umask(mask);
        QCOMPARE(messages, QStringList());
        struct stat status = {};
        QVERIFY(::stat(file.constData(), &status) == 0);
        QCOMPARE(int(status.st_mode & 07777), after);
        QCOMPARE(status.st_uid, otherOwner ? 65534 : ::geteuid());
        QCOMPARE(status.st_gid, otherOwner ? 65534 : ::getegid());
        QVERIFY(::stat(QFile::encodeName(folder).constData(), &status) == 0);
        if (!before)
            QCOMPARE(int(status.st_mode & 07777), 0700);
        QCOMPARE(LoadSettings(path).address, "root:pw@tv");
    }

    // However the system names a save's new version, nobody but its owner can open it while
    // it is being written, not even for a moment, whatever the umask says.
    void newVersionIsPrivateFromItsFirstByte_data()
    {
        QTest::addColumn<int>("before"); // the file's mode before the save; 0: no file
        QTest::newRow("new file") << 0;
        QTest::newRow("file that others may read") << 0644;
    }

    void newVersionIsPrivateFromItsFirstByte()
    {
        QFETCH(int, before);
        QTemporaryDir dir;
        const QString path = dir.filePath("Tavrel.INI");
        if (before) {
            QVERIFY(writeAll(path, "[Dreambox]\nIP=a\n"));
            QVERIFY(::chmod(QFile::encodeName(path).constData(), mode_t(before)) == 0);
        }
        const mode_t mask = ::umask(0);
        {
            ReplacementFile file(path);
            const QString opened = file.open();
            ::umask(mask);
            QCOMPARE(opened, QString());
            struct stat status = {};
            QVERIFY(::fstat(file.handle(), &status) == 0);
            QCOMPARE(int(status.st_mode & 07777), 0600);
            QCOMPARE(file.write("[Dreambox]\nIP=b\n"), QString());
        } // not committed: gone, and the file as it was
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 before ? QStringList{"Tavrel.INI"} : QStringList{});
        if (before)
            QCOMPARE(Module1::ReadIniEntry(path, "Dreambox", "IP"), "a");
    }

    // A disk that fills up half way through the write must not cost the user the old file.
    void fullDiskLeavesTheOldFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Tavrel.INI");
        QVERIFY(writeAll(path, WindowsFile));
        rlimit old{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &old) == 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = 64;
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        const QString reason
            = Module1::WriteIniEntry(path, "Dreambox", "Version", QString(100, 'v'));
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!reason.isEmpty());
        QCOMPARE(readAll(path), WindowsFile);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"Tavrel.INI"});
    }
#endif
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
