#pragma once

#include "MqttPacket.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>

class QTcpSocket;

// One MQTT connection to a broker, kept: it connects, subscribes, keeps alive with pings and,
// when the connection is lost, connects again after pauses that grow. A QoS 1 message received
// is acknowledged only when its reader says so, so that it can be kept safe first; what this
// side publishes at QoS 1 is kept until the broker has it, across connections.
class MqttClient : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QString host;
        quint16 port = 1883;
        bool tls = false;
        QByteArray fingerprint; // SHA-256 of a certificate trusted beyond the system's
        MqttPacket::Connect connect;
        QList<MqttPacket::Subscription> subscriptions;
        std::chrono::milliseconds firstPause{1000}; // before connecting again, doubled each time
        std::chrono::milliseconds longestPause{60000};
        std::chrono::milliseconds answerWithin{10000}; // the broker's answer to a connect
    };

    // A publish as received, and which connection it came over.
    struct Received
    {
        MqttPacket::Publish publish;
        qsizetype size = 0; // of the payload as sent; beyond MaxKept, the payload is not read
        int connection = 0;
    };

    // Publishes this side keeps at most while the broker is away; the oldest go first.
    static constexpr int MaxUnsent = 1000;
    // What one turn of the event loop reads: bytes kept (any packet read whole fits), steps.
    static constexpr qsizetype ReadAtOnce = 2 * MqttPacket::MaxKept;
    static constexpr int StepsAtOnce = 64;

    explicit MqttClient(Options options, QObject *parent = nullptr);
    ~MqttClient() override;

    void start();
    // Publishes what waits, says goodbye to the broker and closes; done once the broker has
    // what was published or within a second.
    void stop(std::function<void()> done);
    void publish(const QString &topic, const QByteArray &payload, int qos, bool retain);
    // The message received is safe: the broker may forget it. Nothing when the connection it
    // came over is gone: the broker sends it again.
    void acknowledge(const Received &received);
    bool isConnected() const { return m_connected; }

signals:
    void connected();              // subscribed, too
    void lost(const QString &why); // the connection failed or ended
    void received(const Received &message);

private:
    void connectNow();
    void opened();
    void read();
    void handle(const MqttPacket::Read &packet);
    void subscribed();
    void drop(const QString &why);
    void write(const QByteArray &bytes);
    void sendPublish(MqttPacket::Publish publish);
    void ping();
    void judgeCertificate();
    quint16 nextId();

    Options m_options;
    QPointer<QTcpSocket> m_socket;
    QByteArray m_buffer;
    qsizetype m_skip = 0; // bytes of an oversized publish still to be read past
    bool m_connected = false;
    bool m_stopping = false;
    int m_connection = 0; // counts connections, so that a late acknowledgement is not misplaced
    quint16 m_lastId = 0;
    quint16 m_subscribeId = 0;
    QHash<quint16, MqttPacket::Publish> m_inFlight; // sent at QoS 1, not yet acknowledged
    QList<MqttPacket::Publish> m_unsent;            // while the broker is away
    std::chrono::milliseconds m_pause{0};
    QTimer m_retry;
    QTimer m_keepAlive;
    QTimer m_answerTimer;
    bool m_pingOutstanding = false;
    bool m_readLater = false; // a slice is to be read on the next turn
    std::function<void()> m_stopped;
};
