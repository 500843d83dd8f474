// quillora-relay on the house's MQTT broker: Debian's Mosquitto with a password file and an
// access list, the house played by mosquitto_pub and mosquitto_sub, receivers by the simulator.
// Under Wine the broker is one scripts/windows.sh started on Linux's loopback, and the house is
// played by the relay's own client, as Linux programs can't be started from there.
#include "FakeReceiver.h"
#include "MqttClient.h"
#include "RelayRig.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QStandardPaths>
#include <QTcpServer>

namespace {

const QString HousePassword = QStringLiteral("house-pw-secret");

// One publish as a subscriber saw it.
struct Seen
{
    QString topic;
    bool retained = false;
    QByteArray payload;
};

bool withMosquitto()
{
    return !QStandardPaths::findExecutable(QStringLiteral("mosquitto_pub")).isEmpty();
}

// The broker: started here on a free loopback port, or the one the environment names.
class Broker
{
public:
    ~Broker() { stop(); }

    // Whether there is a broker to talk to; why not in skip.
    bool start(QString &skip)
    {
        if (const QByteArray given = qgetenv("QUILLORA_TEST_BROKER"); !given.isEmpty()) {
            port = quint16(given.toUInt());
            tlsPort = quint16(qgetenv("QUILLORA_TEST_BROKER_TLS").toUInt());
            return true;
        }
        if (QStandardPaths::findExecutable(QStringLiteral("mosquitto")).isEmpty()
            && !QFile::exists(QStringLiteral("/usr/sbin/mosquitto"))) {
            skip = QStringLiteral("no mosquitto broker (scripts/test.sh installs it; under Wine "
                                  "QUILLORA_TEST_BROKER names one)");
            return false;
        }
        QTcpServer probe, tlsProbe;
        if (!probe.listen(QHostAddress::LocalHost, 0)
            || !tlsProbe.listen(QHostAddress::LocalHost, 0))
            return false;
        port = probe.serverPort();
        tlsPort = tlsProbe.serverPort();
        probe.close();
        tlsProbe.close();
        if (!run())
            port = 0;
        return port != 0;
    }

    bool ownsIt() const { return m_dir != nullptr; }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate(); // Mosquitto saves what it keeps as it ends
        m_process.waitForFinished(5000);
    }

    bool restart()
    {
        stop();
        return run();
    }

    quint16 port = 0;
    quint16 tlsPort = 0; // MQTT over TLS, with the tests' certificate receiver.pem

private:
    bool run()
    {
        if (!m_dir)
            m_dir = std::make_unique<QTemporaryDir>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PATH", environment.value("PATH") + ":/usr/sbin");
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start("bash",
                        {QStringLiteral(QUILLORA_SOURCE_DIR "/tests/mqtt-broker.sh"),
                         m_dir->path(),
                         QString::number(port),
                         QString::number(tlsPort),
                         QStringLiteral(QUILLORA_CERTIFICATES)});
        const auto listening = [this] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            return socket.waitForConnected(200) || m_process.state() == QProcess::NotRunning;
        };
        if (QTest::qWaitFor(listening, 10000) && m_process.state() != QProcess::NotRunning)
            return true;
        qWarning("the broker did not start: %s", m_process.readAll().constData());
        return false;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_process;
};

// The relay's own client, where the house's programs can't be started.
MqttClient::Options houseClient(quint16 port, const QString &id)
{
    MqttClient::Options options;
    options.host = QStringLiteral("127.0.0.1");
    options.port = port;
    options.connect.clientId = id;
    options.connect.user = QStringLiteral("house");
    options.connect.password = HousePassword.toUtf8();
    options.connect.cleanSession = true;
    return options;
}

// mosquitto_pub's and mosquitto_sub's arguments for the house's user, at QoS 1.
QStringList asHouse(quint16 port)
{
    return {"-h",
            "127.0.0.1",
            "-p",
            QString::number(port),
            "-u",
            "house",
            "-P",
            HousePassword,
            "-q",
            "1"};
}

// The relay's own client connected, under Wine.
bool connected(MqttClient &client)
{
    QSignalSpy connected(&client, &MqttClient::connected);
    client.start();
    return connected.wait(5000);
}

// Publishes as the house does: mosquitto_pub, the payload read from its standard input.
bool publish(quint16 port, const QString &topic, const QByteArray &payload, bool retain = false)
{
    if (!withMosquitto()) {
        MqttClient client(houseClient(port, QStringLiteral("test-house-pub")));
        if (!connected(client))
            return false;
        client.publish(topic, payload, 1, retain);
        bool done = false;
        client.stop([&done] { done = true; });
        return QTest::qWaitFor([&done] { return done; }, 5000);
    }
    QProcess pub;
    QStringList arguments = asHouse(port) + QStringList{"-t", topic, "-s"};
    if (retain)
        arguments += "-r";
    pub.setProcessChannelMode(QProcess::ForwardedChannels);
    pub.start("mosquitto_pub", arguments);
    pub.write(payload);
    pub.closeWriteChannel();
    return pub.waitForFinished(10000) && pub.exitCode() == 0;
}

// Everything published under the relay's topics and Home Assistant's, as a subscriber sees it:
// mosquitto_sub, or the relay's own client under Wine.
class Watcher : public QObject
{
public:
    explicit Watcher(quint16 port)
    {
        const QStringList filters{"quillora/#", "homeassistant/#"};
        if (!withMosquitto()) {
            auto options = houseClient(port, QStringLiteral("test-house-watch"));
            for (const QString &filter : filters)
                options.subscriptions += {filter, 1};
            m_client = std::make_unique<MqttClient>(options);
            connect(m_client.get(), &MqttClient::received, this, [this](const auto &received) {
                seen += {received.publish.topic, received.publish.retain, received.publish.payload};
                m_client->acknowledge(received);
            });
            connected(*m_client);
            return;
        }
        // One line a publish: retained flag, topic, payload (hex, so that any bytes survive).
        m_sub.start("mosquitto_sub",
                    asHouse(port)
                        + QStringList{"-t", filters[0], "-t", filters[1], "-F", "%r %t %x"});
        m_sub.waitForStarted();
        connect(&m_sub, &QProcess::readyReadStandardOutput, this, [this] {
            while (m_sub.canReadLine()) {
                const QList<QByteArray> parts = m_sub.readLine().trimmed().split(' ');
                seen += {QString::fromUtf8(parts.value(1)),
                         parts.value(0) == "1",
                         QByteArray::fromHex(parts.value(2))};
            }
        });
    }
    ~Watcher() override
    {
        m_sub.kill();
        m_sub.waitForFinished(2000);
    }

    // What was last published to topic, if anything was.
    std::optional<Seen> last(const QString &topic) const
    {
        for (auto one = seen.crbegin(); one != seen.crend(); ++one)
            if (one->topic == topic)
                return *one;
        return std::nullopt;
    }
    QList<QByteArray> payloads(const QString &topic) const
    {
        QList<QByteArray> all;
        for (const Seen &one : seen)
            if (one.topic == topic)
                all += one.payload;
        return all;
    }

    QList<Seen> seen;

private:
    QProcess m_sub;
    std::unique_ptr<MqttClient> m_client;
};

// What the broker keeps for topic, as a new subscriber gets it; nothing within a second and a
// half: it keeps nothing.
std::optional<QByteArray> retained(quint16 port, const QString &topic)
{
    Watcher late(port);
    if (!QTest::qWaitFor([&] { return late.last(topic).has_value(); }, 1500))
        return std::nullopt;
    const Seen seen = *late.last(topic);
    return seen.retained ? std::optional(seen.payload) : std::nullopt;
}

// The relay's settings for the broker: its own prefix and client id per test, so that neither
// what the broker keeps nor a session of another test gets in the way.
QString mqttSettings(quint16 broker, const QString &name, const QString &more = {})
{
    return QStringLiteral("[MQTT]\nBroker=127.0.0.1:%1\nUser=relay\nPassword=relay-pw-secret\n"
                          "ClientId=test-%2\nPrefix=quillora/%2\nDiscovery=homeassistant/%2\n%3")
        .arg(broker)
        .arg(name, more);
}

// A name of the test's own for the running row: letters, digits and '-' only.
QString rowName()
{
    QString name = QString::fromLatin1(QTest::currentTestFunction()) + '-'
                   + QString::fromLatin1(QTest::currentDataTag());
    static const QRegularExpression other(QStringLiteral("[^A-Za-z0-9]+"));
    return name.replace(other, QStringLiteral("-")).left(48);
}

} // namespace

class TestRelayMqtt : public QObject
{
    Q_OBJECT

    Broker m_broker;

private slots:
    void initTestCase()
    {
        QString skip;
        if (!m_broker.start(skip) && !skip.isEmpty())
            QSKIP(qPrintable(skip));
        QVERIFY2(m_broker.port != 0 && skip.isEmpty(), "the broker did not start");
    }

    // Messages from the house, as mosquitto_pub sends them, to the receivers' screens: plain or
    // JSON, to one receiver or all; what can't be a message dropped with a line and never shown.
    void messagesIn_data()
    {
        QTest::addColumn<QStringList>("publishes"); // "receiver|payload"; "retain:" first: kept
        QTest::addColumn<QString>("shown");         // what each receiver showed, in order
        QTest::addColumn<int>("dropped");
        QTest::newRow("plain text") << QStringList{"living-room|Door"} << "Door|" << 0;
        QTest::newRow("JSON with a title")
            << QStringList{R"(living-room|{"message":"Ring","title":"Door","priority":"high"})"}
            << "Door\nRing|" << 0;
        QTest::newRow("all") << QStringList{"all|Smoke"} << "Smoke|Smoke" << 0;
        QTest::newRow("in order") << QStringList{"living-room|one", "all|two", "living-room|three"}
                                  << "one two three|two" << 0;
        QTest::newRow("not UTF-8")
            << QStringList{"living-room|hex:fffe", "living-room|after"} << "after|" << 1;
        QTest::newRow("4097 bytes")
            << QStringList{"living-room|" + QString(4097, 'x'), "living-room|after"} << "after|"
            << 1;
        QTest::newRow("100 000 bytes: read past, not into memory")
            << QStringList{"living-room|" + QString(100000, 'x'), "living-room|after"} << "after|"
            << 1;
        QTest::newRow("4096 bytes")
            << QStringList{"living-room|" + QString(4096, 'x')} << QString(4096, 'x') + "|" << 0;
        QTest::newRow("JSON without message") << QStringList{R"(living-room|{"title":"Door"})",
                                                             R"(living-room|{"message":5})",
                                                             "living-room|{not json",
                                                             "living-room|after"}
                                              << "after|" << 3;
        QTest::newRow("a bad type")
            << QStringList{R"(kitchen|{"message":"x","type":"loud"})"} << "|" << 1;
        QTest::newRow("retained") << QStringList{"retain:living-room|Old news", "living-room|New"}
                                  << "New|" << 1;
        QTest::newRow("no such receiver")
            << QStringList{"cellar|Hello", "living-room|after"} << "after|" << 0;
    }

    void messagesIn()
    {
        QFETCH(QStringList, publishes);
        QFETCH(QString, shown);
        QFETCH(int, dropped);
        FakeReceiver living{ReceiverSim::Firmware::OpenWebif};
        FakeReceiver kitchen{ReceiverSim::Firmware::OpenWebif};
        QStringList seen[2];
        collectShown(living, seen[0]);
        collectShown(kitchen, seen[1]);
        const QString name = rowName();
        const auto send = [&](bool retained) {
            for (QString one : publishes) {
                if (one.startsWith("retain:") != retained)
                    continue;
                one.remove(QRegularExpression("^retain:"));
                QByteArray payload = one.section('|', 1).toUtf8();
                if (payload.startsWith("hex:"))
                    payload = QByteArray::fromHex(payload.mid(4));
                QVERIFY(publish(m_broker.port,
                                "quillora/" + name + '/' + one.section('|', 0, 0) + "/notify",
                                payload,
                                retained));
            }
        };
        send(true); // kept by the broker, it comes as the relay subscribes
        Rig rig;
        QVERIFY(rig.start(settingsFor(living.serverPort())
                          + QStringLiteral("kitchen=127.0.0.1:%1\n").arg(kitchen.serverPort())
                          + mqttSettings(m_broker.port, name)));
        QTRY_VERIFY_WITH_TIMEOUT(rig.count("MQTT: connected") == 1, 10000);
        send(false);
        const auto all = [&] {
            return seen[0].join(' ') + '|' + seen[1].join(' ');
        };
        QTRY_COMPARE_WITH_TIMEOUT(all(), shown, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(rig.settled(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.count("dropped: a message on"), dropped, 5000);
        QCOMPARE(all(), shown);
    }

    // MQTT over TLS: the broker's certificate is its own, trusted by its fingerprint only.
    void tls_data()
    {
        QTest::addColumn<QString>("fingerprint"); // "receiver", "other" or none
        QTest::addColumn<bool>("connects");
        QTest::newRow("trusted by its fingerprint") << "receiver" << true;
        QTest::newRow("no fingerprint") << "" << false;
        QTest::newRow("another fingerprint") << "other" << false;
    }

    void tls()
    {
        QFETCH(QString, fingerprint);
        QFETCH(bool, connects);
        if (m_broker.tlsPort == 0)
            QSKIP("the broker has no TLS listener here");
        FakeReceiver receiver{ReceiverSim::Firmware::OpenWebif};
        QStringList shown;
        collectShown(receiver, shown);
        const QString name = rowName();
        QString more;
        if (!fingerprint.isEmpty())
            more = "Fingerprint="
                   + QSslCertificate::fromPath(QUILLORA_CERTIFICATES "/" + fingerprint + ".pem")
                         .value(0)
                         .digest(QCryptographicHash::Sha256)
                         .toHex(':')
                   + '\n';
        const QString ini = settingsFor(receiver.serverPort())
                            + mqttSettings(m_broker.tlsPort, name, more)
                                  .replace("Broker=127.0.0.1", "Broker=mqtts://127.0.0.1");
        Rig rig;
        QVERIFY(rig.start(ini));
        if (!connects) {
            QTRY_COMPARE_WITH_TIMEOUT(rig.count("MQTT: the broker at mqtts://"), 1, 10000);
            QVERIFY2(rig.log.join('\n').contains("certificate is not trusted"),
                     qPrintable(rig.log.join('\n')));
            QCOMPARE(rig.count("MQTT: connected"), 0);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.count("MQTT: connected"), 1, 10000);
        QVERIFY(publish(m_broker.port, "quillora/" + name + "/living-room/notify", "Secure"));
        QTRY_COMPARE_WITH_TIMEOUT(shown, QStringList{"Secure"}, 10000);
    }

    // A message the client's reader has not said is safe is not acknowledged: the broker hands
    // it over again on the next connection, marked so, and forgets it once acknowledged.
    void acknowledgedOnlyWhenSaid()
    {
        auto options = houseClient(m_broker.port, QStringLiteral("test-ack"));
        options.connect.cleanSession = false;
        options.subscriptions = {{"quillora/ack/notify", 1}};
        QList<MqttClient::Received> got;
        // The message comes again as soon as the broker takes the connection.
        const auto session = [&](bool acknowledge, qsizetype count) {
            MqttClient client(options);
            connect(&client, &MqttClient::lost, this, [](const QString &why) {
                qWarning("lost: %s", qPrintable(why));
            });
            connect(&client, &MqttClient::received, this, [&](const MqttClient::Received &one) {
                got += one;
                if (acknowledge)
                    client.acknowledge(one);
            });
            QVERIFY(connected(client));
            if (got.isEmpty())
                QVERIFY(publish(m_broker.port, "quillora/ack/notify", "Door"));
            QTRY_COMPARE_WITH_TIMEOUT(got.size(), count, 5000);
            bool stopped = false;
            client.stop([&stopped] { stopped = true; });
            QTRY_VERIFY(stopped);
        };
        session(false, 1);
        session(true, 2); // the same message again
        QCOMPARE(got.size(), 2);
        QCOMPARE(got[1].publish.payload, QByteArray("Door"));
        QVERIFY(!got[0].publish.duplicate);
        QVERIFY(got[1].publish.duplicate);
        MqttClient client(options); // acknowledged: nothing more
        connect(&client, &MqttClient::received, this, [&](const auto &one) { got += one; });
        QVERIFY(connected(client));
        QVERIFY(publish(m_broker.port, "quillora/ack/notify", "Bell"));
        QTRY_COMPARE_WITH_TIMEOUT(got.size(), 3, 5000);
        QCOMPARE(got[2].publish.payload, QByteArray("Bell"));
    }

    // The relay away while the house publishes: the broker keeps the messages for its session
    // and hands them over when it is back; availability says where it is meanwhile.
    void persistentSession()
    {
        FakeReceiver receiver{ReceiverSim::Firmware::OpenWebif};
        QStringList shown;
        collectShown(receiver, shown);
        const QString name = rowName();
        const QString ini = settingsFor(receiver.serverPort()) + mqttSettings(m_broker.port, name);
        const QString availability = "quillora/" + name + "/relay/availability";
        Rig rig;
        QVERIFY(rig.start(ini));
        QTRY_VERIFY_WITH_TIMEOUT(rig.count("MQTT: connected") == 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(
            retained(m_broker.port, availability), QByteArray("online"), 5000);
        bool stopped = false;
        rig.relay->stop([&stopped] { stopped = true; });
        QTRY_VERIFY_WITH_TIMEOUT(stopped, 5000);
        rig.relay.reset();
        QCOMPARE(retained(m_broker.port, availability), QByteArray("offline"));
        for (const char *text : {"first", "second"})
            QVERIFY(publish(m_broker.port, "quillora/" + name + "/living-room/notify", text));
        QVERIFY(rig.start(ini)); // the same store, the same client id
        QTRY_COMPARE_WITH_TIMEOUT(shown, QStringList({"first", "second"}), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(
            retained(m_broker.port, availability), QByteArray("online"), 5000);
        QVERIFY(rig.settled());
        QCOMPARE(shown.size(), 2);
    }

    // The broker restarted while messages wait for a dark screen: the relay connects again,
    // subscribes again and publishes its state again; nothing is lost and nothing comes twice.
    void brokerRestarted()
    {
        if (!m_broker.ownsIt())
            QSKIP("the broker was started outside the test, which can't restart it");
        FakeReceiver receiver{ReceiverSim::Firmware::OpenWebif};
        receiver.setStandby(true);
        QStringList shown;
        collectShown(receiver, shown);
        const QString name = rowName();
        const QString notify = "quillora/" + name + "/living-room/notify";
        Rig rig;
        QVERIFY(rig.start(settingsFor(receiver.serverPort()) + mqttSettings(m_broker.port, name)));
        QTRY_VERIFY_WITH_TIMEOUT(rig.count("MQTT: connected") == 1, 10000);
        QVERIFY(publish(m_broker.port, notify, "before"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.count("held: ") > 0, 10000);
        QVERIFY(m_broker.restart());
        QTRY_VERIFY_WITH_TIMEOUT(rig.count("MQTT: connected") == 2, 10000);
        QCOMPARE(rig.count("MQTT: the broker at"), 1); // away: said once
        QVERIFY(publish(m_broker.port, notify, "after"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.count("accepted: "), 2, 10000);
        const QString state = "quillora/" + name + "/living-room/state";
        QTRY_VERIFY_WITH_TIMEOUT(
            QJsonDocument::fromJson(retained(m_broker.port, state).value_or(""))
                    .object()
                    .value("waiting")
                == 2,
            10000);
        receiver.setStandby(false);
        QTRY_COMPARE_WITH_TIMEOUT(shown, QStringList({"before", "after"}), 15000);
        QVERIFY(rig.settled());
        QCOMPARE(shown.size(), 2);
    }

    // The state topic as the screen goes from standby to on, and as the house wakes it.
    void stateFollowsTheScreen()
    {
        FakeReceiver receiver{ReceiverSim::Firmware::OpenWebif};
        receiver.setStandby(true, 300ms);
        const QString name = rowName();
        Watcher watcher(m_broker.port);
        Rig rig;
        QVERIFY(rig.start(settingsFor(receiver.serverPort()) + mqttSettings(m_broker.port, name)));
        const QString state = "quillora/" + name + "/living-room/state";
        const auto now = [&] {
            return QJsonDocument::fromJson(watcher.last(state).value_or(Seen{}).payload).object();
        };
        QTRY_COMPARE_WITH_TIMEOUT(now().value("power").toString(), QString("unknown"), 10000);
        QVERIFY(publish(m_broker.port, "quillora/" + name + "/living-room/notify", "Door"));
        QTRY_COMPARE_WITH_TIMEOUT(now().value("power").toString(), QString("standby"), 10000);
        QCOMPARE(now().value("waiting").toInt(), 1);
        QCOMPARE(now().value("last").toObject().value("state").toString(), QString("held-standby"));
        QVERIFY(publish(m_broker.port, "quillora/" + name + "/living-room/wake", "PRESS"));
        QTRY_COMPARE_WITH_TIMEOUT(
            now().value("last").toObject().value("state").toString(), QString("shown"), 10000);
        QCOMPARE(now().value("power").toString(), QString("on"));
        QCOMPARE(now().value("waiting").toInt(), 0);
        QVERIFY(receiver.powerRequests().contains("4")); // woken by the relay
        QVERIFY(!receiver.inStandby());
        QVERIFY(watcher.last(state)->payload.size() > 0);
        QCOMPARE(retained(m_broker.port, state), watcher.last(state)->payload);
    }

    // The relay killed: the broker publishes its last will, and availability says offline.
    void lastWill()
    {
        const QString name = rowName();
        QTemporaryDir dir;
        QTcpServer probe; // a free port, for the settings
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 port = probe.serverPort();
        probe.close();
        QFile ini(dir.filePath("relay.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(
            QStringLiteral("[Relay]\nListen=127.0.0.1:%1\n[Receivers]\nliving-room=127.0.0.1:9\n")
                .arg(port)
                .append(mqttSettings(m_broker.port, name))
                .toUtf8());
        ini.close();
        const QString availability = "quillora/" + name + "/relay/availability";
        QProcess relay;
        relay.setProcessChannelMode(QProcess::MergedChannels);
        relay.start(QUILLORA_RELAY, {"--config", ini.fileName()});
        QTRY_COMPARE_WITH_TIMEOUT(
            retained(m_broker.port, availability), QByteArray("online"), 10000);
        relay.kill();
        QVERIFY(relay.waitForFinished(5000));
        QTRY_COMPARE_WITH_TIMEOUT(
            retained(m_broker.port, availability), QByteArray("offline"), 10000);
        QVERIFY2(!relay.readAll().contains("pw-secret"), "a password in the log");
    }

    // Home Assistant's discovery configs, kept by the broker for every receiver; a receiver taken
    // out of the settings has its configs cleared at the next start.
    void discovery()
    {
        const QString name = rowName();
        const QString node = "homeassistant/" + name + "/%1/quillora_%2/%3/config";
        const QStringList objects{"notify|message",
                                  "binary_sensor|screen",
                                  "sensor|waiting",
                                  "button|wake",
                                  "event|answer"};
        Rig rig;
        QVERIFY(rig.start("[Receivers]\nliving-room=127.0.0.1:9\nkitchen=127.0.0.1:9\n"
                          + mqttSettings(m_broker.port, name)));
        QTRY_VERIFY_WITH_TIMEOUT(rig.count("MQTT: connected") == 1, 10000);
        for (const QString &object : objects) {
            const QString topic
                = node.arg(object.section('|', 0, 0), "kitchen", object.section('|', 1));
            std::optional<QByteArray> config;
            QTRY_VERIFY_WITH_TIMEOUT((config = retained(m_broker.port, topic)).has_value(), 5000);
            const QJsonObject fields = QJsonDocument::fromJson(*config).object();
            QCOMPARE(fields["device"]["identifiers"].toArray().first().toString(),
                     QString("quillora_kitchen"));
            QCOMPARE(fields["availability_topic"].toString(),
                     "quillora/" + name + "/relay/availability");
        }
        bool stopped = false;
        rig.relay->stop([&stopped] { stopped = true; });
        QTRY_VERIFY_WITH_TIMEOUT(stopped, 5000);
        rig.relay.reset();
        Watcher watcher(m_broker.port);
        QVERIFY(rig.start("[Receivers]\nliving-room=127.0.0.1:9\n"
                          + mqttSettings(m_broker.port, name)));
        for (const QString &object : objects) {
            const QString topic
                = node.arg(object.section('|', 0, 0), "kitchen", object.section('|', 1));
            QTRY_VERIFY_WITH_TIMEOUT(watcher.last(topic) && watcher.last(topic)->payload.isEmpty()
                                         && !watcher.last(topic)->retained,
                                     5000);
            QCOMPARE(retained(m_broker.port, topic), std::nullopt);
            QVERIFY(
                retained(m_broker.port,
                         node.arg(object.section('|', 0, 0), "living-room", object.section('|', 1)))
                    .has_value());
        }
        QCOMPARE(rig.count("MQTT: kitchen is no longer a receiver"), 1);
    }

    // A question answered by a key on the remote, or not at all: the answer topic and the HTTP
    // status say the same.
    void questions_data()
    {
        QTest::addColumn<bool>("overHttp");
        QTest::addColumn<int>("reply"); // ReceiverSim::Reply
        QTest::addColumn<QString>("answer");
        QTest::newRow("yes, over MQTT") << false << int(ReceiverSim::Reply::Yes) << "yes";
        QTest::newRow("no, over HTTP") << true << int(ReceiverSim::Reply::No) << "no";
        QTest::newRow("not at all, over MQTT") << false << int(ReceiverSim::Reply::None) << "none";
    }

    void questions()
    {
        QFETCH(bool, overHttp);
        QFETCH(int, reply);
        QFETCH(QString, answer);
        FakeReceiver receiver{ReceiverSim::Firmware::OpenWebif};
        receiver.scriptAnswer(ReceiverSim::Reply(reply), 300ms);
        const QString name = rowName();
        Watcher watcher(m_broker.port);
        Rig rig;
        QVERIFY(rig.start(settingsFor(receiver.serverPort()) + mqttSettings(m_broker.port, name)));
        QTRY_VERIFY_WITH_TIMEOUT(rig.count("MQTT: connected") == 1, 10000);
        if (overHttp)
            QCOMPARE(ask(rig.port,
                         request("PUT /living-room",
                                 "X-Type: question\r\nX-Timeout: 2\r\n",
                                 "Lights off?"))
                         .status,
                     200);
        else
            QVERIFY(
                publish(m_broker.port,
                        "quillora/" + name + "/living-room/notify",
                        R"({"message":"Lights off?","type":"question","timeout":2,"id":"q-7"})"));
        const QString topic = "quillora/" + name + "/living-room/answer";
        QTRY_VERIFY_WITH_TIMEOUT(watcher.last(topic).has_value(), 10000);
        const QJsonObject said = QJsonDocument::fromJson(watcher.last(topic)->payload).object();
        QCOMPARE(said["answer"].toString(), answer);
        QCOMPARE(said["id"].toString(), overHttp ? QString("1") : QString("q-7"));
        QVERIFY(!watcher.last(topic)->retained);
        const QJsonObject status = object(ask(rig.port, request("GET /v1/messages/1")).body);
        QCOMPARE(status["receivers"][0]["answer"].toString(), answer);
        QCOMPARE(status["type"].toString(), QString("question"));
    }

    // A broker that floods: what is beyond MaxWaiting is dropped with one line, and HTTP answers
    // within 100 ms all along. A last message for another receiver, published once the flood is
    // in the broker, marks its end at the relay.
    void flood()
    {
        FakeReceiver living{ReceiverSim::Firmware::OpenWebif};
        FakeReceiver kitchen{ReceiverSim::Firmware::OpenWebif};
        living.setStandby(true);
        kitchen.setStandby(true);
        const QString name = rowName();
        Rig rig;
        QVERIFY(rig.start(settingsFor(living.serverPort(), "MaxWaiting=50")
                          + QStringLiteral("kitchen=127.0.0.1:%1\n").arg(kitchen.serverPort())
                          + mqttSettings(m_broker.port, name)));
        QTRY_VERIFY_WITH_TIMEOUT(rig.count("MQTT: connected") == 1, 10000);
        constexpr int Messages = 10000;
        const QString topic = "quillora/" + name + "/%1/notify";
        // mosquitto_pub, a line a message; under Wine the relay's own client, as fast as it goes.
        QProcess pub;
        MqttClient house(houseClient(m_broker.port, QStringLiteral("test-house-flood")));
        if (withMosquitto()) {
            QByteArray lines;
            for (int i = 0; i < Messages; ++i)
                lines += "message " + QByteArray::number(i) + '\n';
            pub.start("mosquitto_pub",
                      asHouse(m_broker.port) + QStringList{"-t", topic.arg("living-room"), "-l"});
            pub.write(lines);
            pub.closeWriteChannel();
        } else {
            QVERIFY(connected(house));
            for (int i = 0; i < Messages; ++i)
                house.publish(
                    topic.arg("living-room"), "message " + QByteArray::number(i), 1, false);
            house.publish(topic.arg("kitchen"), "the end", 1, false);
        }
        qint64 slowest = 0;
        int asked = 0;
        QElapsedTimer flooding;
        flooding.start();
        bool marked = !withMosquitto();
        const auto ended = [&] {
            return rig.log.filter(QStringLiteral("for kitchen: the end")).size() == 1;
        };
        do { // an ask every 10 ms or so until the end is in
            if (!marked && pub.state() == QProcess::NotRunning)
                marked = publish(m_broker.port, topic.arg("kitchen"), "the end");
            QElapsedTimer took;
            took.start();
            QCOMPARE(ask(rig.port, request("GET /v1/health")).status, 200);
            slowest = std::max(slowest, took.elapsed());
            ++asked;
        } while (!QTest::qWaitFor(ended, 10) && flooding.elapsed() < 60000);
        QVERIFY(ended());
        qInfo("%d messages in %lld ms; HTTP asked %d times meanwhile, the slowest answer %lld ms",
              Messages,
              flooding.elapsed(),
              asked,
              slowest);
        QVERIFY2(slowest < 100, qPrintable(QString::number(slowest)));
        QCOMPARE(rig.count("accepted: "), 51);
        QCOMPARE(rig.count("dropped: too many"), 1);
        const QJsonObject state = object(ask(rig.port, request("GET /v1/messages")).body);
        QCOMPARE(state["messages"].toArray().size(), 51);
    }
};

QTEST_GUILESS_MAIN(TestRelayMqtt)
#include "test_relay_mqtt.moc"
