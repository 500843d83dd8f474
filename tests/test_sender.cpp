#include "ReceiverSim.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// quillora-send as a script runs it: no display, the receiver on this machine.
class TestSender : public QObject
{
    Q_OBJECT

private slots:
    void sends_data()
    {
        QTest::addColumn<QStringList>("arguments"); // ADDR: the receiver, INI: a settings file
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("error");        // how standard error starts
        QTest::addColumn<QStringList>("received"); // timeout, caption, body; empty: nothing
        QTest::newRow("words") << QStringList{"-a", "ADDR", "Hello", "", "world"} << QByteArray()
                               << 0 << "" << QStringList{"", "Quillora", "Hello  world"};
        QTest::newRow("from a pipe") << QStringList{"-a", "ADDR", "-c", "Disk", "-t", "5"}
                                     << QByteArray("/dev/sda1 9%\nsecond line\n") << 0 << ""
                                     << QStringList{"5", "Disk", "/dev/sda1 9%\nsecond line"};
        QTest::newRow("dash") << QStringList{"--address=ADDR", "-"} << QByteArray("x\r\n") << 0
                              << "" << QStringList{"", "Quillora", "x"};
        QTest::newRow("settings file") << QStringList{"--settings", "INI", "Hi"} << QByteArray()
                                       << 0 << "" << QStringList{"7", "Quillora", "Hi"};
        QTest::newRow("options over the settings file")
            << QStringList{"--settings", "INI", "-t", "3", "-a", "ADDR", "Hi"} << QByteArray() << 0
            << "" << QStringList{"3", "Quillora", "Hi"};
        QTest::newRow("not delivered")
            << QStringList{"-a", "127.0.0.1:1", "Hi"} << QByteArray() << 1
            << "quillora-send: message not delivered: Connection refused\n"
            << QStringList{};
        QTest::newRow("refused by the receiver")
            << QStringList{"-a", "ADDR", "E"} << QByteArray() << 1
            << "quillora-send: message not delivered: the receiver answered HTTP 401"
            << QStringList{};
        QTest::newRow("endless input")
            << QStringList{"-a", "ADDR"} << QByteArray(1024 * 1024 + 1, 'x') << 2
            << "quillora-send: the message on standard input is longer" << QStringList{};
        QTest::newRow("no address") << QStringList{"Hi"} << QByteArray() << 2
                                    << "quillora-send: no receiver address" << QStringList{};
        QTest::newRow("unknown option") << QStringList{"-a", "ADDR", "--loud", "Hi"} << QByteArray()
                                        << 2 << "quillora-send: Unknown option" << QStringList{};
        QTest::newRow("missing settings file")
            << QStringList{"--settings", "INI.missing", "Hi"} << QByteArray() << 2
            << "quillora-send: can't read the settings file" << QStringList{};
        QTest::newRow("help") << QStringList{"--help"} << QByteArray() << 0 << "" << QStringList{};
    }

    void sends()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(int, exitCode);
        QFETCH(QString, error);
        QFETCH(QStringList, received);
        ReceiverSim receiver;
        QVERIFY(receiver.listen(QHostAddress::LocalHost, 0));
        const QString address = "127.0.0.1:" + QString::number(receiver.serverPort());
        if (arguments.contains("E")) // a body the receiver is told to refuse
            receiver.requireLogin("root", "pw");
        QSignalSpy messages(&receiver, &ReceiverSim::messageReceived);
        QTemporaryDir dir;
        const QString ini = dir.filePath("Tavrel.INI");
        QFile file(ini);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Dreambox]\nIP=" + address.toUtf8() + "\nTimeout=7\n");
        file.close();

        QProcess sender;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        sender.setProcessEnvironment(environment);
        arguments.replaceInStrings("ADDR", address).replaceInStrings("INI", ini);
        sender.start(QUILLORA_SEND, arguments);
        QVERIFY(sender.waitForStarted());
        sender.write(input);
        sender.closeWriteChannel();
        // The receiver answers from this test's event loop, so wait without blocking it.
        QTRY_COMPARE_WITH_TIMEOUT(sender.state(), QProcess::NotRunning, 20000);

        const QString standardError = QString::fromUtf8(sender.readAllStandardError());
        const QString standardOutput = QString::fromUtf8(sender.readAllStandardOutput());
        QVERIFY2(error.isEmpty() ? standardError.isEmpty() : standardError.startsWith(error),
                 qPrintable("stderr: " + standardError));
        QCOMPARE(sender.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sender.exitCode(), exitCode);
        QCOMPARE(standardOutput.startsWith("Usage:"), arguments.contains("--help"));
        QCOMPARE(messages.size(), received.isEmpty() ? 0 : 1);
        if (!received.isEmpty())
            QCOMPARE(messages.first(), (QVariantList{received[0], received[1], received[2]}));
    }
};

QTEST_GUILESS_MAIN(TestSender)
#include "test_sender.moc"
