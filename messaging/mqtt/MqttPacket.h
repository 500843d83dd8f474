#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <variant>

// MQTT 3.1.1's packets as the relay speaks them with a broker: what it writes, built from typed
// fields, and what it reads, taken from the front of the bytes received so far. No socket: tests
// and fuzzers can give the reader anything, and a malformed packet is refused, never guessed at.
namespace MqttPacket {

// The most the reader keeps of one packet: a topic name (at most 65 535 bytes) and a message the
// relay could take. A publish beyond it is read only as far as its topic and packet id.
constexpr qsizetype MaxKept = 65535 + 4 + 8192;

struct Will
{
    QString topic;
    QByteArray payload;
    int qos = 1;
    bool retain = true;
};

struct Connect
{
    QString clientId;
    QString user; // empty: none
    QByteArray password;
    int keepAlive = 30; // seconds
    bool cleanSession = false;
    std::optional<Will> will;
};

struct Publish
{
    QString topic;
    QByteArray payload;
    int qos = 0;
    bool retain = false;
    bool duplicate = false;
    quint16 packetId = 0; // QoS 1 and 2 only
};

struct Subscription
{
    QString filter;
    int qos = 1;
};

QByteArray connect(const Connect &connect);
QByteArray publish(const Publish &publish);
QByteArray subscribe(quint16 packetId, const QList<Subscription> &subscriptions);
QByteArray puback(quint16 packetId);
QByteArray pingreq();
QByteArray disconnect();

// What the broker sent, read.
struct ConnAck
{
    bool sessionPresent = false;
    int code = 0; // 0: accepted; 1 to 5 as the protocol numbers its refusals
};
struct SubAck
{
    quint16 packetId = 0;
    QList<int> granted; // 0 to 2, or 0x80: refused
};
struct PubAck
{
    quint16 packetId = 0;
};
struct PingResp
{
};
// A publish longer than MaxKept: its head, and how many of its bytes are still to come (to be
// read past, not kept).
struct Oversized
{
    Publish head; // topic, QoS, packet id; no payload
    qsizetype size = 0;
    qsizetype toSkip = 0;
};
struct Malformed
{
    QString why;
};
struct NeedMore
{
};

using Read
    = std::variant<NeedMore, ConnAck, SubAck, PubAck, PingResp, Publish, Oversized, Malformed>;

// The first packet in bytes, removed from them once read whole (an oversized publish: once its
// head is). Anything a client does not expect from a broker is malformed.
Read take(QByteArray &bytes);

} // namespace MqttPacket
