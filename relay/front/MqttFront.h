#pragma once

#include "MqttClient.h"
#include "MqttPayloads.h"
#include "Publication.h"

#include <QObject>

#include <functional>

// The relay's side of the house's MQTT broker: it takes the messages and wake commands
// published to its topics, and publishes each receiver's state, the answers to questions, its
// own availability and, where asked, Home Assistant's discovery configs.
class MqttFront : public QObject
{
    Q_OBJECT

public:
    using Log = std::function<void(const QString &line)>;

    MqttFront(MqttClient::Options options,
              const MqttPayloads::Topics &topics,
              const QStringList &receivers,
              Log log,
              QObject *parent = nullptr);

    const MqttPayloads::Topics &topics() const { return m_topics; }
    void start();
    // Says the relay is offline and leaves the broker; done then, or within a second.
    void stop(std::function<void()> done);

    void acknowledge(const MqttClient::Received &received) { m_client.acknowledge(received); }
    void publishState(const QString &receiver, const MqttPayloads::State &state);
    void publishAnswer(const QString &receiver, const QByteArray &answer);
    // Kept by the broker for those who subscribe later: the discovery configs.
    void publishRetained(const MqttPayloads::Retained &retained);

    // The message topics and wake topics the relay listens to.
    static QList<MqttPacket::Subscription> Subscriptions(const MqttPayloads::Topics &topics,
                                                         const QStringList &receivers);

signals:
    void connected(); // and subscribed: everything the relay keeps published goes again
    // A message published for a receiver (or "all"); to be acknowledged once kept. origin tells
    // the broker's second delivery of it from another message.
    void message(const Publication::Message &message,
                 const MqttClient::Received &received,
                 const QString &origin);
    void wake(const QString &receiver);

private:
    void received(const MqttClient::Received &received);
    void dropped(const MqttClient::Received &received, const QString &why);

    MqttClient m_client;
    MqttPayloads::Topics m_topics;
    Log m_log;
    QString m_broker; // as the log names it
    bool m_away = false;
};
