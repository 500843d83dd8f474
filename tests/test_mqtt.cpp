// MQTT 3.1.1's packets as the relay writes them to a broker and reads them from one: what a
// broker may send, read; what it may not, refused; what is cut short, waited for.
#include "MqttClient.h"
#include "MqttPacket.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

QString described(const MqttPacket::Read &read)
{
    using namespace MqttPacket;
    if (std::holds_alternative<NeedMore>(read))
        return QStringLiteral("need more");
    if (const auto *ack = std::get_if<ConnAck>(&read))
        return QStringLiteral("connack %1 present %2").arg(ack->code).arg(ack->sessionPresent);
    if (const auto *ack = std::get_if<SubAck>(&read)) {
        QStringList granted;
        for (const int code : ack->granted)
            granted += QString::number(code);
        return QStringLiteral("suback %1 [%2]").arg(ack->packetId).arg(granted.join(' '));
    }
    if (const auto *ack = std::get_if<PubAck>(&read))
        return QStringLiteral("puback %1").arg(ack->packetId);
    if (std::holds_alternative<PingResp>(read))
        return QStringLiteral("pingresp");
    const auto head = [](const Publish &publish) {
        QString said = QStringLiteral("%1 qos %2").arg(publish.topic).arg(publish.qos);
        if (publish.qos > 0)
            said += QStringLiteral(" id %1").arg(publish.packetId);
        if (publish.retain)
            said += QStringLiteral(" retain");
        if (publish.duplicate)
            said += QStringLiteral(" dup");
        return said;
    };
    if (const auto *publish = std::get_if<Publish>(&read))
        return QStringLiteral("publish %1 [%2]")
            .arg(head(*publish), QString::fromUtf8(publish->payload));
    if (const auto *oversized = std::get_if<Oversized>(&read))
        return QStringLiteral("oversized %1 size %2 skip %3")
            .arg(head(oversized->head))
            .arg(oversized->size)
            .arg(oversized->toSkip);
    return QStringLiteral("malformed");
}

} // namespace

class TestMqtt : public QObject
{
    Q_OBJECT

private slots:
    // Bytes from a broker (hex), the first packet read from them, and what is left after it.
    void take_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("read");
        QTest::addColumn<int>("left");
        const auto row = [](const char *name, const char *hex, const char *read, int left = 0) {
            QTest::newRow(name) << QByteArray::fromHex(hex) << QString::fromUtf8(read) << left;
        };
        row("connack", "20020000", "connack 0 present 0");
        row("connack, session kept", "20020100", "connack 0 present 1");
        row("connack, not allowed", "20020005", "connack 5 present 0");
        row("connack, a flag unknown", "20020200", "malformed");
        row("connack, too long", "2003000000", "malformed");
        row("puback", "40020007", "puback 7");
        row("puback with flags", "42020007", "malformed");
        row("suback", "9004000101 80", "suback 1 [1 128]");
        row("suback, a code unknown", "9003000103", "malformed");
        row("pingresp", "d000", "pingresp");
        row("publish, QoS 0", "30070003612f626869", "publish a/b qos 0 [hi]");
        row("publish, QoS 1 kept, again",
            "3b090003612f62000a6869",
            "publish a/b qos 1 id 10 retain dup [hi]");
        row("publish, empty", "30050003612f62", "publish a/b qos 0 []");
        row("publish, QoS 2", "34090003612f62000a6869", "malformed");
        row("publish, QoS 3", "36090003612f62000a6869", "malformed");
        row("publish, QoS 0 sent again", "38070003612f626869", "malformed");
        row("publish, QoS 1 without an id", "32090003612f6200006869", "malformed");
        row("publish, a wildcard in the topic", "30070003612f2b6869", "malformed");
        row("publish, a topic of no UTF-8", "30070003612fff6869", "malformed");
        row("publish, an empty topic", "300400006869", "malformed");
        row("publish, a topic longer than the packet", "30040009612f", "malformed");
        row("two packets: the first", "40020007d000", "puback 7", 2);
        row("cut short in the head", "30", "need more", 1);
        row("cut short in the length", "3080", "need more", 2);
        row("cut short in the body", "30070003612f", "need more", 6);
        row("a length of five bytes", "30ffffffff7f", "malformed");
        row("the longest length there is", "30ffffff7f", "need more", 5);
        row("a packet only clients send", "c000", "malformed");
        row("connect from the broker", "100c00044d5154540402001e0000", "malformed");
        row("a kept packet too long", "40a0cd0600", "malformed");
        // 100 000 bytes announced: read as far as the topic and id, the rest is to be skipped.
        row("publish beyond what is kept",
            "32a08d060003612f620005",
            "oversized a/b qos 1 id 5 size 100000 skip 99993");
        row("publish beyond, its head cut short", "32a08d060003612f", "need more", 8);
    }

    void take()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, read);
        QFETCH(int, left);
        QCOMPARE(described(MqttPacket::take(bytes)), read);
        if (read != "malformed")
            QCOMPARE(bytes.size(), left);
    }

    // What the relay writes, byte for byte as MQTT 3.1.1 lays it out.
    void written_data()
    {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<QByteArray>("hex");
        MqttPacket::Connect connect{"relay",
                                    "ha",
                                    "pw",
                                    30,
                                    false,
                                    MqttPacket::Will{"q/relay/availability", "offline", 1, true}};
        QTest::newRow("connect: session kept, will, login")
            << MqttPacket::connect(connect)
            << QByteArray("103800044d51545404ec001e000572656c61790014712f72656c61792f617661696c"
                          "6162696c69747900076f66666c696e650002686100027077");
        QTest::newRow("connect: clean, nothing more")
            << MqttPacket::connect({"c", {}, {}, 60, true, std::nullopt})
            << QByteArray("100d00044d515454040200"
                          "3c000163");
        QTest::newRow("subscribe")
            << MqttPacket::subscribe(7, {{"q/all/notify", 1}, {"q/tv/wake", 0}})
            << QByteArray("821d0007000c712f616c6c2f6e6f74696679010009712f74762f77616b6500");
        QTest::newRow("publish, QoS 1, kept")
            << MqttPacket::publish({"q/tv/state", "{}", 1, true, false, 258})
            << QByteArray("3310000a712f74762f737461746501027b7d");
        QTest::newRow("publish, 200 bytes: two bytes of length")
            << MqttPacket::publish({"t", QByteArray(200, 'x'), 0, false, false, 0}).left(6)
            << QByteArray("30cb01000174");
        QTest::newRow("puback") << MqttPacket::puback(0x1234) << QByteArray("40021234");
        QTest::newRow("pingreq") << MqttPacket::pingreq() << QByteArray("c000");
        QTest::newRow("disconnect") << MqttPacket::disconnect() << QByteArray("e000");
    }

    void written()
    {
        QFETCH(QByteArray, packet);
        QFETCH(QByteArray, hex);
        QCOMPARE(packet.toHex(), hex);
    }

    // A broker that hangs up at once is called again after pauses that double up to the longest,
    // and each time the client says why it lost the connection.
    void connectsAgainWithGrowingPauses()
    {
        QTcpServer broker;
        QVERIFY(broker.listen(QHostAddress::LocalHost, 0));
        QList<qint64> at;
        QElapsedTimer clock;
        clock.start();
        connect(&broker, &QTcpServer::newConnection, this, [&] {
            at += clock.elapsed();
            broker.nextPendingConnection()->close();
        });
        MqttClient::Options options;
        options.host = QStringLiteral("127.0.0.1");
        options.port = broker.serverPort();
        options.connect.clientId = QStringLiteral("pauses");
        options.firstPause = std::chrono::milliseconds(100);
        options.longestPause = std::chrono::milliseconds(400);
        MqttClient client(options);
        QSignalSpy lost(&client, &MqttClient::lost);
        client.start();
        QTRY_VERIFY_WITH_TIMEOUT(at.size() >= 6, 10000);
        const QList<qint64> pauses{100, 200, 400, 400, 400};
        for (qsizetype i = 0; i < pauses.size(); ++i) {
            const qint64 gap = at[i + 1] - at[i];
            // A timer may end up to a twentieth early.
            QVERIFY2(gap >= pauses[i] * 9 / 10 && gap < pauses[i] + 250,
                     qPrintable(QStringLiteral("pause %1: %2 ms").arg(i).arg(gap)));
        }
        QVERIFY(lost.size() >= 5);
        QCOMPARE(lost.first().first().toString(), QString("the broker closed the connection"));
        QVERIFY(!client.isConnected());
    }
};

QTEST_GUILESS_MAIN(TestMqtt)
#include "test_mqtt.moc"
