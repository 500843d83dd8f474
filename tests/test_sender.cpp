#include "ReceiverSim.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
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
        QTest::addColumn<QString>("output");       // what standard output holds, in part
        QTest::newRow("words") << QStringList{"-a", "ADDR", "Hello", "", "world"} << QByteArray()
                               << 0 << "" << QStringList{"", "Quillora", "Hello  world"}
                               << QString();
        QTest::newRow("from a pipe")
            << QStringList{"-a", "ADDR", "-c", "Disk", "-t", "5"}
            << QByteArray("/dev/sda1 9%\nsecond line\n") << 0 << ""
            << QStringList{"5", "Disk", "/dev/sda1 9%\nsecond line"} << QString();
        QTest::newRow("dash") << QStringList{"--address=ADDR", "-"} << QByteArray("x\r\n") << 0
                              << "" << QStringList{"", "Quillora", "x"} << QString();
        QTest::newRow("settings file")
            << QStringList{"--settings", "INI", "Hi"} << QByteArray() << 0 << ""
            << QStringList{"7", "Quillora", "Hi"} << QString();
        QTest::newRow("options over the settings file")
            << QStringList{"--settings", "INI", "-t", "3", "-a", "ADDR", "Hi"} << QByteArray() << 0
            << "" << QStringList{"3", "Quillora", "Hi"} << QString();
        QTest::newRow("not delivered")
            << QStringList{"-a", "127.0.0.1:1", "Hi"} << QByteArray() << 1
            << "quillora-send: message not delivered: nothing answers at 127.0.0.1 on port 1"
            << QStringList{} << QString();
        QTest::newRow("unknown host name")
            << QStringList{"-a", "receiver.invalid", "Hi"} << QByteArray() << 1
            << "quillora-send: message not delivered: there is no receiver named "
               "receiver.invalid on the network\n"
            << QStringList{} << QString();
        QTest::newRow("refused by the receiver")
            << QStringList{"-a", "ADDR", "E"} << QByteArray() << 1
            << "quillora-send: message not delivered: the receiver wants a login, so type the "
               "address as user:password@127.0.0.1:"
            << QStringList{} << QString();
        QTest::newRow("endless input")
            << QStringList{"-a", "ADDR"} << QByteArray(1024 * 1024 + 1, 'x') << 2
            << "quillora-send: the message on standard input is longer" << QStringList{}
            << QString();
        QTest::newRow("no address")
            << QStringList{"Hi"} << QByteArray() << 2 << "quillora-send: no receiver address"
            << QStringList{} << QString();
        QTest::newRow("unknown option")
            << QStringList{"-a", "ADDR", "--loud", "Hi"} << QByteArray() << 2
            << "quillora-send: Unknown option" << QStringList{} << QString();
        QTest::newRow("missing settings file")
            << QStringList{"--settings", "INI.missing", "Hi"} << QByteArray() << 2
            << "quillora-send: can't read the settings file" << QStringList{} << QString();
        QTest::newRow("help") << QStringList{"--help"} << QByteArray() << 0 << "" << QStringList{}
                              << "Exit status:\n  0  every receiver took the message";
        QTest::newRow("help with Qt's options")
            << QStringList{"--help-all", "-a", "ADDR"} << QByteArray() << 0 << "" << QStringList{}
            << "--qmljsdebugger";
        QTest::newRow("version") << QStringList{"-v", "-a", "ADDR"} << QByteArray() << 0 << ""
                                 << QStringList{} << "quillora-send 1.0";
        QTest::newRow("empty standard input") << QStringList{"-a", "ADDR"} << QByteArray() << 2
                                              << "quillora-send: the message is empty\n"
                                              << QStringList{} << QString();
        QTest::newRow("empty word") << QStringList{"-a", "ADDR", ""} << QByteArray() << 2
                                    << "quillora-send: the message is empty\n"
                                    << QStringList{} << QString();
        QTest::newRow("unknown type")
            << QStringList{"-a", "ADDR", "--type", "question", "Hi"} << QByteArray() << 2
            << "quillora-send: unknown message type \"question\"" << QStringList{} << QString();
        QTest::newRow("type ignored by the first generation")
            << QStringList{"-a", "ADDR", "--type", "error", "Hi"} << QByteArray() << 0 << ""
            << QStringList{"", "Quillora", "Hi"} << QString();
        QTest::newRow("max-time not positive")
            << QStringList{"-a", "ADDR", "--max-time", "0", "Hi"} << QByteArray() << 2
            << "quillora-send: --max-time wants a number of seconds" << QStringList{} << QString();
        QTest::newRow("max-time") << QStringList{"-a", "SILENT", "--max-time", "0.3", "Hi"}
                                  << QByteArray() << 1
                                  << "quillora-send: message not delivered: no answer from the "
                                     "receiver within 0.3 seconds"
                                  << QStringList{} << QString();
        QTest::newRow("verbose") << QStringList{"-a", "root:secret@ADDR", "--verbose", "Hi"}
                                 << QByteArray() << 0
                                 << "> GET /cgi-bin/xmessage?timeout=&caption=Quillora&body=Hi "
                                    "HTTP/1.1 (to 127.0.0.1:"
                                 << QStringList{"", "Quillora", "Hi"} << QString();
        QTest::newRow("same address twice")
            << QStringList{"-a", "ADDR", "-a", " ADDR ", "Hi"} << QByteArray() << 0 << ""
            << QStringList{"", "Quillora", "Hi"} << QString();
    }

    void sends()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(int, exitCode);
        QFETCH(QString, error);
        QFETCH(QStringList, received);
        QFETCH(QString, output);
        ReceiverSim receiver;
        QVERIFY(receiver.listen(QHostAddress::LocalHost, 0));
        const QString address = "127.0.0.1:" + QString::number(receiver.serverPort());
        if (arguments.contains("E") || arguments.contains("--verbose"))
            receiver.requireLogin("root", "secret");
        QTcpServer silent; // takes the connection and never answers
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
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
        arguments.replaceInStrings("SILENT", "127.0.0.1:" + QString::number(silent.serverPort()))
            .replaceInStrings("ADDR", address)
            .replaceInStrings("INI", ini);
        sender.start(QUILLORA_SEND, arguments);
        QVERIFY(sender.waitForStarted());
        sender.write(input);
        sender.closeWriteChannel();
        // The receiver answers from this test's event loop, so wait without blocking it.
        QTRY_COMPARE_WITH_TIMEOUT(sender.state(), QProcess::NotRunning, 20000);

        // Line ends as the system writes text: CR LF on Windows.
        const QString standardError
            = QString::fromUtf8(sender.readAllStandardError()).replace("\r\n", "\n");
        const QString standardOutput
            = QString::fromUtf8(sender.readAllStandardOutput()).replace("\r\n", "\n");
        QVERIFY2(error.isEmpty() ? standardError.isEmpty() : standardError.startsWith(error),
                 qPrintable("stderr: " + standardError));
        QCOMPARE(sender.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sender.exitCode(), exitCode);
        QVERIFY2(output.isEmpty() ? standardOutput.isEmpty() : standardOutput.contains(output),
                 qPrintable("stdout: " + standardOutput));
        QVERIFY(!standardError.contains("secret") && !standardError.contains("Authorization"));
        if (arguments.contains("--verbose"))
            QVERIFY(standardError.contains("\n< HTTP/1.1 200 OK (from 127.0.0.1:"));
        QCOMPARE(messages.size(), received.isEmpty() ? 0 : 1);
        if (!received.isEmpty())
            QCOMPARE(messages.first(), (QVariantList{received[0], received[1], received[2]}));
    }

    // One receiver takes the message, one of the second generation takes it as a warning, one
    // can't be reached: each of the first two shows it once, and the third is named.
    void sendsToSeveralReceivers()
    {
        ReceiverSim first;
        ReceiverSim second(ReceiverSim::Firmware::OpenWebif);
        QVERIFY(first.listen(QHostAddress::LocalHost, 0)
                && second.listen(QHostAddress::LocalHost, 0));
        QSignalSpy messages(&first, &ReceiverSim::messageReceived);
        QSignalSpy boxes(&second, &ReceiverSim::boxShown);
        QProcess sender;
        sender.start(QUILLORA_SEND,
                     {"-a",
                      "127.0.0.1:" + QString::number(first.serverPort()),
                      "-a",
                      "127.0.0.1:" + QString::number(second.serverPort()),
                      "-a",
                      "root:secret@127.0.0.1:1",
                      "--type",
                      "warning",
                      "-t",
                      "5",
                      "Disk full"});
        QVERIFY(sender.waitForStarted());
        sender.closeWriteChannel();
        QTRY_COMPARE_WITH_TIMEOUT(sender.state(), QProcess::NotRunning, 20000);
        QCOMPARE(sender.exitCode(), 1);
        const QStringList errors = QString::fromUtf8(sender.readAllStandardError())
                                       .split(QRegularExpression("\r?\n"), Qt::SkipEmptyParts);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().startsWith(
                     "quillora-send: message not delivered to 127.0.0.1:1: nothing answers at "),
                 qPrintable(errors.first()));
        QTest::qWait(100);
        QCOMPARE(messages.size(), 1);
        QCOMPARE(messages.first(), (QVariantList{"5", "Quillora", "Disk full"}));
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes.first(), (QVariantList{"2", "5", "Quillora\nDisk full"}));
    }
};

QTEST_GUILESS_MAIN(TestSender)
#include "test_sender.moc"
