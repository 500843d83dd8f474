#include "MqttPacket.h"

namespace MqttPacket {

namespace {

enum Type : quint8 {
    ConnectType = 1,
    ConnAckType = 2,
    PublishType = 3,
    PubAckType = 4,
    SubscribeType = 8,
    SubAckType = 9,
    PingReqType = 12,
    PingRespType = 13,
    DisconnectType = 14,
};

void put16(QByteArray &out, quint16 value)
{
    out += char(value >> 8);
    out += char(value & 0xff);
}

void putString(QByteArray &out, const QByteArray &utf8)
{
    put16(out, quint16(utf8.size()));
    out += utf8;
}

// The fixed header before body: type, flags and the remaining length, seven bits a byte.
QByteArray framed(quint8 type, quint8 flags, const QByteArray &body)
{
    QByteArray out(1, char((type << 4) | flags));
    qsizetype length = body.size();
    do {
        quint8 digit = quint8(length % 128);
        length /= 128;
        if (length > 0)
            digit |= 0x80;
        out += char(digit);
    } while (length > 0);
    return out + body;
}

quint16 get16(const QByteArray &bytes, qsizetype at)
{
    return quint16((quint8(bytes[at]) << 8) | quint8(bytes[at + 1]));
}

// A topic name at the front of body, as the protocol allows one: UTF-8, no U+0000, no wildcard.
std::optional<QString> topicAt(const QByteArray &body, qsizetype &at)
{
    if (body.size() < at + 2)
        return std::nullopt;
    const qsizetype length = get16(body, at);
    if (length == 0 || body.size() < at + 2 + length)
        return std::nullopt;
    const QByteArray utf8 = body.mid(at + 2, length);
    const QString topic = QString::fromUtf8(utf8);
    if (topic.toUtf8() != utf8 || utf8.contains('\0') || utf8.contains('+') || utf8.contains('#'))
        return std::nullopt;
    at += 2 + length;
    return topic;
}

// A publish's head (flags, topic, packet id) from the first bytes of its body.
std::variant<Publish, Malformed> publishHead(quint8 flags, const QByteArray &body)
{
    Publish publish;
    publish.qos = (flags >> 1) & 3;
    publish.retain = flags & 1;
    publish.duplicate = flags & 8;
    if (publish.qos > 1)
        return Malformed{
            QStringLiteral("a publish at QoS %1, above what was asked for").arg(publish.qos)};
    if (publish.qos == 0 && publish.duplicate)
        return Malformed{QStringLiteral("a QoS 0 publish marked as sent again")};
    qsizetype at = 0;
    const auto topic = topicAt(body, at);
    if (!topic)
        return Malformed{QStringLiteral("a publish without a valid topic name")};
    publish.topic = *topic;
    if (publish.qos > 0) {
        if (body.size() < at + 2 || get16(body, at) == 0)
            return Malformed{QStringLiteral("a publish without a packet id")};
        publish.packetId = get16(body, at);
        at += 2;
    }
    publish.payload = body.mid(at);
    return publish;
}

Read packet(quint8 type, quint8 flags, const QByteArray &body)
{
    const bool noFlags = flags == 0;
    switch (type) {
    case ConnAckType:
        if (!noFlags || body.size() != 2 || (quint8(body[0]) & 0xfe) != 0)
            break;
        return ConnAck{bool(body[0] & 1), quint8(body[1])};
    case PublishType: {
        auto read = publishHead(flags, body);
        if (auto *publish = std::get_if<Publish>(&read))
            return *publish;
        return std::get<Malformed>(read);
    }
    case PubAckType:
        if (!noFlags || body.size() != 2)
            break;
        return PubAck{get16(body, 0)};
    case SubAckType: {
        if (!noFlags || body.size() < 3)
            break;
        SubAck ack{get16(body, 0), {}};
        for (qsizetype i = 2; i < body.size(); ++i) {
            const int code = quint8(body[i]);
            if (code > 2 && code != 0x80)
                return Malformed{QStringLiteral("a subscription answered with code %1").arg(code)};
            ack.granted += code;
        }
        return ack;
    }
    case PingRespType:
        if (!noFlags || !body.isEmpty())
            break;
        return PingResp{};
    default:
        return Malformed{
            QStringLiteral("a packet of type %1, which a broker does not send").arg(type)};
    }
    return Malformed{QStringLiteral("a packet of type %1 of the wrong shape").arg(type)};
}

} // namespace

QByteArray connect(const Connect &connect)
{
    QByteArray body;
    putString(body, "MQTT");
    body += char(4); // 3.1.1
    quint8 flags = connect.cleanSession ? 0x02 : 0;
    if (connect.will)
        flags |= quint8(0x04 | (connect.will->qos << 3) | (connect.will->retain ? 0x20 : 0));
    if (!connect.user.isEmpty())
        flags |= quint8(0x80 | (connect.password.isEmpty() ? 0 : 0x40));
    body += char(flags);
    put16(body, quint16(connect.keepAlive));
    putString(body, connect.clientId.toUtf8());
    if (connect.will) {
        putString(body, connect.will->topic.toUtf8());
        putString(body, connect.will->payload);
    }
    if (!connect.user.isEmpty()) {
        putString(body, connect.user.toUtf8());
        if (!connect.password.isEmpty())
            putString(body, connect.password);
    }
    return framed(ConnectType, 0, body);
}

QByteArray publish(const Publish &publish)
{
    QByteArray body;
    putString(body, publish.topic.toUtf8());
    if (publish.qos > 0)
        put16(body, publish.packetId);
    body += publish.payload;
    const quint8 flags
        = quint8((publish.duplicate ? 8 : 0) | (publish.qos << 1) | (publish.retain ? 1 : 0));
    return framed(PublishType, flags, body);
}

QByteArray subscribe(quint16 packetId, const QList<Subscription> &subscriptions)
{
    QByteArray body;
    put16(body, packetId);
    for (const Subscription &subscription : subscriptions) {
        putString(body, subscription.filter.toUtf8());
        body += char(subscription.qos);
    }
    return framed(SubscribeType, 2, body);
}

QByteArray puback(quint16 packetId)
{
    QByteArray body;
    put16(body, packetId);
    return framed(PubAckType, 0, body);
}

QByteArray pingreq()
{
    return framed(PingReqType, 0, {});
}

QByteArray disconnect()
{
    return framed(DisconnectType, 0, {});
}

Read take(QByteArray &bytes)
{
    if (bytes.isEmpty())
        return NeedMore{};
    const quint8 type = quint8(bytes[0]) >> 4;
    const quint8 flags = quint8(bytes[0]) & 0x0f;
    qsizetype length = 0;
    qsizetype at = 1;
    for (int shift = 0;; shift += 7) {
        if (at >= bytes.size())
            return NeedMore{};
        if (shift > 21)
            return Malformed{QStringLiteral("a remaining length of more than four bytes")};
        const quint8 digit = quint8(bytes[at++]);
        length += qsizetype(digit & 0x7f) << shift;
        if (!(digit & 0x80))
            break;
    }
    if (length > MaxKept && type == PublishType) {
        // Only its head is read: enough for the topic and the packet id.
        const qsizetype head = std::min<qsizetype>(length, 65535 + 4);
        if (bytes.size() - at < 2)
            return NeedMore{};
        const qsizetype needed = std::min(head, qsizetype(2 + get16(bytes, at) + 2));
        if (bytes.size() - at < needed)
            return NeedMore{};
        auto read = publishHead(flags, bytes.mid(at, needed));
        if (auto *why = std::get_if<Malformed>(&read))
            return *why;
        Publish publish = std::get<Publish>(read);
        publish.payload.clear();
        bytes.remove(0, at + needed);
        return Oversized{publish, length, length - needed};
    }
    if (length > MaxKept)
        return Malformed{
            QStringLiteral("a packet of %1 bytes, more than the relay reads").arg(length)};
    if (bytes.size() - at < length)
        return NeedMore{};
    const QByteArray body = bytes.mid(at, length);
    bytes.remove(0, at + length);
    return packet(type, flags, body);
}

} // namespace MqttPacket
