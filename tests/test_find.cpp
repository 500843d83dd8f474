// quillora-send --find as a user runs it, on a network of the test's own: simulators and an
// independent responder (Avahi) announce receivers there by multicast DNS. Runs inside a network
// namespace (tests/in-network-namespace.sh), where only the loopback network carries multicast.
#include "Announcer.h"
#include "FakeReceiver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <algorithm>
#include <memory>
#include <utility>

using namespace std::chrono_literals;

class TestFind : public QObject
{
    Q_OBJECT

private:
    std::vector<std::unique_ptr<QProcess>> m_processes;
    std::vector<std::unique_ptr<FakeReceiver>> m_webServers;
    QTemporaryDir m_dir;
    QUdpSocket m_questions; // the multicast group's questions, for an answer from off the network
    QUdpSocket m_hostile;   // that answer's source
    std::unique_ptr<Announcer> m_spoofed; // what it says
    bool m_hostileUp = false;

    // Starts a program and waits until it says that it is ready.
    bool start(const QString &program, const QStringList &arguments, const QString &ready)
    {
        auto &process = m_processes.emplace_back(std::make_unique<QProcess>());
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(program, arguments);
        if (!process->waitForStarted())
            return false;
        QByteArray said;
        QElapsedTimer clock;
        clock.start();
        while (!said.contains(ready.toUtf8()) && clock.elapsed() < 10000) {
            if (process->state() != QProcess::Running)
                return false;
            process->waitForReadyRead(100);
            said += process->readAll();
        }
        if (!said.contains(ready.toUtf8()))
            qWarning("%s did not get ready: %s", qPrintable(program), said.constData());
        return said.contains(ready.toUtf8());
    }

    // An answer to every question from an address on a network of its own (198.51.100.7 on a
    // network device "hostile", one end of a pair): not from the network the question went on. What
    // it announces is a receiver at port, which would be listed if the answer were taken.
    bool offLink(const QString &name, quint16 port)
    {
        const auto ip = [](const QStringList &arguments) {
            return QProcess::execute("ip", arguments) == 0;
        };
        if (!ip({"link", "add", "hostile", "type", "veth", "peer", "name", "hostile-peer"})
            || !ip({"addr", "add", "198.51.100.7/24", "dev", "hostile"})
            || !ip({"link", "set", "hostile", "up"}) || !ip({"link", "set", "hostile-peer", "up"}))
            return false;
        m_hostileUp = true;
        auto &web = m_webServers.emplace_back(
            std::make_unique<FakeReceiver>(ReceiverSim::Firmware::OpenWebif));
        web->close();
        if (!web->listen(QHostAddress::LocalHost, port)
            || !m_questions.bind(QHostAddress::AnyIPv4,
                                 5353,
                                 QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)
            || !m_questions.joinMulticastGroup(QHostAddress("224.0.0.251"))
            || !m_hostile.bind(QHostAddress("198.51.100.7"), 0))
            return false;
        m_spoofed = std::make_unique<Announcer>(name, Announcer::Interface::OpenWebif, false, port);
        connect(&m_questions, &QUdpSocket::readyRead, this, [this] {
            while (m_questions.hasPendingDatagrams()) {
                const QNetworkDatagram query = m_questions.receiveDatagram();
                const QByteArray answer = m_spoofed->reply(query.data(), true);
                if (!answer.isEmpty())
                    m_hostile.writeDatagram(
                        answer, query.senderAddress(), quint16(query.senderPort()));
            }
        });
        return true;
    }

    // What --find printed, a line "address kind name" per receiver: from its JSON array, or from
    // its lines of three columns separated by tabs (not a terminal: the test reads a pipe).
    static QStringList receiversListed(const QString &out, bool json)
    {
        QStringList listed;
        if (json) {
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(out.toUtf8(), &error);
            if (error.error != QJsonParseError::NoError || !document.isArray())
                return {"not a JSON array: " + out};
            for (const QJsonValue &receiver : document.array()) {
                const QJsonObject object = receiver.toObject();
                if (object.size() != 4 || object["confirmed"] != (object["kind"] != "unconfirmed"))
                    return {"not the four keys: " + out};
                listed += object["address"].toString() + ' ' + object["kind"].toString() + ' '
                          + object["name"].toString();
            }
            return listed;
        }
        for (const QString &line : out.split('\n', Qt::SkipEmptyParts)) {
            const QStringList columns = line.split('\t');
            listed += columns.size() == 3 ? columns.join(' ') : "not three columns: " + line;
        }
        return listed;
    }

    // A simulator announcing itself: "kind name" (kind openwebif, maker or https; offlink: see
    // offLink).
    bool simulator(const QString &announced, quint16 port)
    {
        const QString kind = announced.section(' ', 0, 0);
        if (kind == "offlink")
            return offLink(announced.section(' ', 1), port);
        QStringList arguments{QString::number(port),
                              "--firmware",
                              kind == "maker" ? "maker" : "openwebif",
                              "--announce",
                              announced.section(' ', 1)};
        if (kind == "https")
            arguments += {"--tls-certificate",
                          QUILLORA_CERTIFICATES "/receiver.pem",
                          "--tls-key",
                          QUILLORA_CERTIFICATES "/receiver.key"};
        return start(QUILLORA_SIM, arguments, "Receiver listening");
    }

    // Avahi with static services: "name port text" each, behind each of which a web server
    // answers as a receiver (text OpenWebif) or as anything else.
    bool avahi(const QStringList &services)
    {
        for (const QString &service : services) {
            const QStringList parts = service.split('|');
            QFile file("/etc/avahi/services/" + QString(parts[0]).replace(' ', '-') + ".service");
            if (!file.open(QIODevice::WriteOnly))
                return false;
            file.write("<?xml version=\"1.0\" standalone='no'?>\n<service-group>\n<name>"
                       + parts[0].toUtf8() + "</name>\n<service><type>_http._tcp</type><port>"
                       + parts[1].toUtf8() + "</port>"
                       + (parts[2].isEmpty() ? QByteArray()
                                             : "<txt-record>" + parts[2].toUtf8() + "</txt-record>")
                       + "</service>\n</service-group>\n");
        }
        QFile config(m_dir.filePath("avahi.conf"));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write("[server]\nhost-name=independent\nuse-ipv4=yes\nuse-ipv6=no\n"
                     "allow-interfaces=lo\nenable-dbus=no\n[publish]\npublish-aaaa-on-ipv4=no\n");
        config.close();
        QFile::remove("/run/avahi-daemon/pid");
        return start("avahi-daemon",
                     {"--no-drop-root", "--no-chroot", "--no-rlimits", "-f", config.fileName()},
                     services.isEmpty() ? "Server startup complete" : "successfully established");
    }

private slots:
    void cleanup()
    {
        for (auto &process : m_processes) {
            process->terminate();
            process->waitForFinished(3000);
        }
        m_processes.clear();
        m_webServers.clear();
        m_questions.close();
        m_questions.disconnect(this);
        m_hostile.close();
        if (std::exchange(m_hostileUp, false))
            QProcess::execute("ip", {"link", "del", "hostile"});
        for (const QString &file : QDir("/etc/avahi/services").entryList(QDir::Files))
            QFile::remove("/etc/avahi/services/" + file);
    }

    void find_data()
    {
        // Simulators: "kind name" at ports 8101, 8102, …; Avahi: "name|port|text" each, with a
        // web server at that port that is a receiver's when its text says OpenWebif.
        QTest::addColumn<QStringList>("simulators");
        QTest::addColumn<bool>("withAvahi");
        QTest::addColumn<QStringList>("avahiServices");
        QTest::addColumn<QStringList>("listed"); // address, kind and name per line
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("json"); // --json rather than tab-separated lines
        QTest::newRow("two simulators")
            << QStringList{"openwebif Living Room", "maker Kitchen"} << false << QStringList{}
            << QStringList{"127.0.0.1:8102 maker Kitchen", "127.0.0.1:8101 openwebif Living Room"}
            << 0 << false;
        // The terminal shows the name's characters; nothing in it is done to the terminal.
        QTest::newRow("space, tab and escape codes in the name")
            << QStringList{"openwebif \x1B]0;PWN\x07\x1B[2J\x1B[Hkitchen\t192.168.1.21 "
                           "maker\x1B[8m"}
            << false << QStringList{}
            << QStringList{"127.0.0.1:8101 openwebif \\x1B]0;PWN\\x07\\x1B[2J\\x1B[Hkitchen\\x09"
                           "192.168.1.21 maker\\x1B[8m"}
            << 0 << false;
        QTest::newRow("space, tab and escape codes in the name, as JSON")
            << QStringList{"openwebif \x1B]0;PWN\x07 kitchen\t192.168.1.21 maker\x1B[8m"} << false
            << QStringList{}
            << QStringList{"127.0.0.1:8101 openwebif \\x1B]0;PWN\\x07 kitchen\\x09192.168.1.21 "
                           "maker\\x1B[8m"}
            << 0 << true;
        QTest::newRow("nothing, as JSON")
            << QStringList{} << false << QStringList{} << QStringList{} << 1 << true;
        QTest::newRow("an answer from off the network")
            << QStringList{"offlink Spoof"} << false << QStringList{} << QStringList{} << 1
            << false;
        QTest::newRow("beside a running Avahi")
            << QStringList{"openwebif Living Room", "https Bedroom"} << true << QStringList{}
            << QStringList{"https://127.0.0.1:8102 openwebif Bedroom",
                           "127.0.0.1:8101 openwebif Living Room"}
            << 0 << false;
        QTest::newRow("announced by Avahi")
            << QStringList{} << true << QStringList{"Study Box|8201|OpenWebif"}
            << QStringList{"127.0.0.1:8201 openwebif Study Box"} << 0 << false;
        QTest::newRow("a web server that is no receiver's")
            << QStringList{} << true << QStringList{"Printer|8202|"} << QStringList{} << 1 << false;
        QTest::newRow("nothing announced")
            << QStringList{} << false << QStringList{} << QStringList{} << 1 << false;
    }

    void find()
    {
        QFETCH(QStringList, simulators);
        QFETCH(bool, withAvahi);
        QFETCH(QStringList, avahiServices);
        QFETCH(QStringList, listed);
        QFETCH(int, exitCode);
        QFETCH(bool, json);
        for (qsizetype i = 0; i < simulators.size(); ++i)
            QVERIFY(simulator(simulators[i], quint16(8101 + i)));
        for (const QString &service : avahiServices) {
            const QStringList parts = service.split('|');
            auto &web = m_webServers.emplace_back(std::make_unique<FakeReceiver>(
                parts[2].isEmpty() ? ReceiverSim::Firmware::First
                                   : ReceiverSim::Firmware::OpenWebif));
            web->close();
            QVERIFY(web->listen(QHostAddress::LocalHost, parts[1].toUShort()));
        }
        if (withAvahi)
            QVERIFY(avahi(avahiServices));

        QProcess find;
        QElapsedTimer clock;
        clock.start();
        find.start(QUILLORA_SEND, {"--find", "--verbose", json ? "--json" : "--verbose"});
        QTRY_COMPARE_WITH_TIMEOUT(find.state(), QProcess::NotRunning, 10000);
        const qint64 took = clock.elapsed();
        const QString out = QString::fromUtf8(find.readAllStandardOutput());
        const QString err = QString::fromUtf8(find.readAllStandardError());
        for (const QString &said : {out, err})
            QVERIFY2(std::none_of(said.begin(),
                                  said.end(),
                                  [](QChar c) {
                                      return c < u' ' && c != u'\n' && c != u'\r' && c != u'\t';
                                  }),
                     qPrintable(said));
        // The search ends within 3 seconds; starting the program gets one more on a busy machine.
        QVERIFY2(took < 4000, qPrintable(QString::number(took)));
        QCOMPARE(find.exitCode(), exitCode);
        QCOMPARE(receiversListed(out, json), listed);
        if (listed.isEmpty())
            QVERIFY2(err.contains("quillora-send: no receiver answered on the local network"),
                     qPrintable(err));
        if (simulators.value(0).startsWith("offlink"))
            QVERIFY2(err.contains("< not taken: not from the local network (from 198.51.100.7)"),
                     qPrintable(err));
        // --verbose shows the questions, what was heard and each confirmation asked.
        QVERIFY2(err.contains("> PTR _e2stream._tcp.local (to 224.0.0.251 port 5353 on "),
                 qPrintable(err));
        for (const QString &receiver : listed)
            QVERIFY2(
                err.contains("> GET /web/about (to "
                             + receiver.section(' ', 0, 0).remove(QRegularExpression("^https://")))
                    || err.contains("> GET /web/about (to " + receiver.section(' ', 0, 0)),
                qPrintable(err));
        // Nothing but /web/about was asked of any web server.
        for (const auto &web : m_webServers)
            for (const QByteArray &request : web->requests())
                QVERIFY2(request.startsWith("GET /web/about "), request.constData());
    }

    // quillora-send --wake and a simulator in deep standby, as processes of their own: the
    // magic packet reaches the receiver's network card, the receiver starts, and the message
    // goes once its web interface answers; without --wake nothing is sent to UDP port 9.
    void wakesFromDeepStandby_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("--wake with its hardware address")
            << QStringList{"--wake", "--mac", "00-09-34-ab-cd-ef", "--max-time", "10"} << 0;
        QTest::newRow("without --wake") << QStringList{"--max-time", "3"} << 1;
    }

    void wakesFromDeepStandby()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QVERIFY(start(QUILLORA_SIM,
                      {"8301",
                       "--firmware",
                       "openwebif",
                       "--deep-standby",
                       "00:09:34:AB:CD:EF",
                       "--boot-seconds",
                       "1"},
                      "waiting for Wake-on-LAN"));
        QProcess send;
        send.start(QUILLORA_SEND,
                   QStringList{"-a", "127.0.0.1:8301", "--verbose"} + arguments
                       + QStringList{"Dinner is ready"});
        QTRY_COMPARE_WITH_TIMEOUT(send.state(), QProcess::NotRunning, 20000);
        const QString err = QString::fromUtf8(send.readAllStandardError());
        QCOMPARE(send.exitCode(), exitCode);
        QProcess &simulator = *m_processes.back();
        simulator.waitForReadyRead(500);
        const QString shown = QString::fromUtf8(simulator.readAll());
        if (exitCode == 0) {
            QVERIFY2(err.contains("> magic packet for 00:09:34:AB:CD:EF (to 127.0.0.1 port 9)"),
                     qPrintable(err));
            QVERIFY2(shown.contains("Wake-on-LAN packet to 127.0.0.1 from 127.0.0.1"),
                     qPrintable(shown));
            QVERIFY2(shown.contains("Dinner is ready"), qPrintable(shown));
            // Every line is the simulator's own: none of Qt's warnings.
            QVERIFY2(shown.contains("Receiver started from deep standby")
                         && !shown.contains("QTcpServer"),
                     qPrintable(shown));
        } else {
            QVERIFY2(!err.contains("magic packet"), qPrintable(err));
            QVERIFY2(!shown.contains("Wake-on-LAN packet"), qPrintable(shown));
            QVERIFY2(err.contains("may also be switched off or in deep standby"), qPrintable(err));
        }
    }
};

QTEST_GUILESS_MAIN(TestFind)
#include "test_find.moc"
