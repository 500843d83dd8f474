#include "FifoWatchdog.h"
#include "Module1.h"
#include "ProfileFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
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
        QTest::newRow("cut to 254") << "[Dreambox]\nIP=" + QByteArray(300, 'x') + "\n"
                                    << "IP" << QString(254, 'x');
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
                                  << "a" << QByteArray("[Dreambox]\nIP=a\n");
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
            << "a\r\nb\nc\rd" << QByteArray("[Dreambox]\nIP=a b c d\n");
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
        QCOMPARE(ProfileFile::writeEntry(before, "Dreambox", key, value), after);
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
            const QByteArray written
                = ProfileFile::writeEntry(content, "Dreambox", "IP", "new value");
            QVERIFY2(ProfileFile::readEntry(written, "Dreambox", "IP") == "new value",
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
        QCOMPARE(readAll(path), ProfileFile::writeEntry({}, "Dreambox", "Timeout", "7"));
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
        QTest::newRow("pipe") << "pipe";
        QTest::newRow("folder") << "folder";
        QTest::newRow("link to a device") << "device";
    }

    // Reading a pipe or a device would wait or never end, and replacing it would lose it.
    void onlyARegularFileIsReadOrReplaced()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath("Tavrel.INI");
        std::optional<FifoWatchdog> pipe;
        if (kind == "pipe")
            QVERIFY(pipe.emplace(path).made());
        if (kind == "folder")
            QVERIFY(QDir(dir.path()).mkdir("Tavrel.INI"));
        if (kind == "device")
            QVERIFY(QFile::link("/dev/null", path));

        QCOMPARE(Module1::ReadIniEntry(path, "Dreambox", "IP"), QString());
        QCOMPARE(Module1::SettingsFileUnreadable(path), "not a regular file");
        QCOMPARE(Module1::WriteIniEntry(path, "Dreambox", "IP", "a"), "not a regular file");
        QVERIFY(!pipe || pipe->stop());
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

#ifdef Q_OS_UNIX
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
