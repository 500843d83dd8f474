#include "MqttFront.h"
#include "PlainText.h"

#include <QCryptographicHash>

MqttFront::MqttFront(MqttClient::Options options,
                     const MqttPayloads::Topics &topics,
                     const QStringList &receivers,
                     Log log,
                     QObject *parent)
    : QObject(parent)
    , m_client([&] {
        options.subscriptions = Subscriptions(topics, receivers);
        options.connect.will = MqttPacket::Will{topics.availability(), "offline", 1, true};
        return options;
    }())
    , m_topics(topics)
    , m_log(std::move(log))
{
    m_broker = QStringLiteral("%1%2:%3")
                   .arg(options.tls ? QStringLiteral("mqtts://") : QString(), options.host)
                   .arg(options.port);
    connect(&m_client, &MqttClient::connected, this, [this] {
        m_away = false;
        m_log(QStringLiteral("MQTT: connected to the broker at %1").arg(m_broker));
        m_client.publish(m_topics.availability(), "online", 1, true);
        emit connected();
    });
    connect(&m_client, &MqttClient::lost, this, [this](const QString &why) {
        if (std::exchange(m_away, true))
            return; // said once, until it is back
        m_log(QStringLiteral("MQTT: the broker at %1 is away: %2; connecting again with growing "
                             "pauses, up to a minute")
                  .arg(m_broker, PlainText::from(why)));
    });
    connect(&m_client, &MqttClient::received, this, &MqttFront::received);
}

QList<MqttPacket::Subscription> MqttFront::Subscriptions(const MqttPayloads::Topics &topics,
                                                         const QStringList &receivers)
{
    QList<MqttPacket::Subscription> subscriptions{{topics.notify(QStringLiteral("all")), 1}};
    for (const QString &receiver : receivers) {
        subscriptions += {topics.notify(receiver), 1};
        // A wake asked for while the relay was away is past its moment: not kept for it.
        subscriptions += {topics.wake(receiver), 0};
    }
    return subscriptions;
}

void MqttFront::start()
{
    m_log(QStringLiteral("MQTT: connecting to the broker at %1").arg(m_broker));
    m_client.start();
}

void MqttFront::stop(std::function<void()> done)
{
    m_client.publish(m_topics.availability(), "offline", 1, true);
    m_client.stop(std::move(done));
}

void MqttFront::received(const MqttClient::Received &received)
{
    const MqttPacket::Publish &publish = received.publish;
    const auto asked = m_topics.asked(publish.topic);
    if (!asked)
        return dropped(received, QStringLiteral("the relay does not listen to that topic"));
    if (asked->kind == MqttPayloads::Topics::Asked::Kind::Wake) {
        m_client.acknowledge(received);
        if (!publish.retain) // a kept wake would wake the receiver at every connection
            emit wake(asked->receiver);
        return;
    }
    if (publish.retain)
        return dropped(received,
                       QStringLiteral("it was kept by the broker (retained), so it would come "
                                      "again at every connection: publish without retain"));
    if (received.size > Publication::MaxText)
        return dropped(received,
                       QStringLiteral("it is %1 bytes long, more than 4096").arg(received.size));
    const auto read = Publication::FromPayload(asked->receiver, publish.payload);
    if (const auto *refusal = std::get_if<Publication::Refusal>(&read))
        return dropped(received, refusal->error);
    QString origin;
    if (publish.qos == 1)
        origin = QStringLiteral("%1:%2")
                     .arg(publish.packetId)
                     .arg(QString::fromLatin1(
                         QCryptographicHash::hash(publish.topic.toUtf8() + '\0' + publish.payload,
                                                  QCryptographicHash::Sha256)
                             .toHex()));
    emit message(std::get<Publication::Message>(read), received, origin);
}

void MqttFront::dropped(const MqttClient::Received &received, const QString &why)
{
    m_client.acknowledge(received);
    m_log(QStringLiteral("dropped: a message on %1: %2")
              .arg(PlainText::from(received.publish.topic, 120), why));
}

void MqttFront::publishState(const QString &receiver, const MqttPayloads::State &state)
{
    m_client.publish(m_topics.state(receiver), MqttPayloads::StateJson(state), 1, true);
}

void MqttFront::publishAnswer(const QString &receiver, const QByteArray &answer)
{
    m_client.publish(m_topics.answer(receiver), answer, 1, false);
}

void MqttFront::publishRetained(const MqttPayloads::Retained &retained)
{
    for (const auto &[topic, payload] : retained)
        m_client.publish(topic, payload, 1, true);
}
