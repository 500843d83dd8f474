#pragma once

#include "HttpFront.h"
#include "Inet.h"
#include "MqttFront.h"
#include "ReceiverQueue.h"
#include "RelaySettings.h"
#include "RelayStore.h"

#include <QHash>
#include <QObject>
#include <QSet>

#include <deque>
#include <memory>

// The relay: takes what the house publishes on its one port, keeps it in the store and has each
// receiver's line show it. Everything runs on the thread that made it.
class Relay : public QObject
{
    Q_OBJECT

public:
    static constexpr int ListedMessages = 100;  // GET /v1/messages
    static constexpr int MaxRateClients = 4096; // client addresses whose publishes are counted
    static constexpr int MaxBatch = 64;         // messages accepted in one commit

    struct Options
    {
        std::chrono::milliseconds sendWithin{15000};  // a message to a lit screen
        std::chrono::milliseconds wakeWithin{120000}; // one that wakes its receiver first
        ReceiverQueue::Clock now;                     // none: the system's clock
        ReceiverQueue::Log log;                       // one line per thing that happened
        std::chrono::milliseconds brokerPause{1000};  // the first pause before connecting again
    };

    Relay(const RelaySettings &settings,
          std::unique_ptr<RelayStore> store,
          Options options,
          QObject *parent = nullptr);
    ~Relay() override;

    // Takes up what the store holds and listens; or says why it can't.
    std::optional<QString> start();
    quint16 port() const { return m_front.port(); }
    // Tells the broker the relay is going, then calls done; at once where there is no broker.
    void stop(std::function<void()> done);

private:
    // How taking a message ended.
    enum class Took {
        Accepted,
        Again,     // the broker's second delivery of a message accepted before
        Full,      // a receiver had MaxWaiting messages waiting
        NotStored, // the store failed
    };
    struct Taken
    {
        RelayStore::Publish publish;
        Publication::Message message;
        std::function<void(Took, const Taken &)> done;
    };

    void handle(const HttpFront::Incoming &incoming);
    std::optional<HttpFront::Reply> ownPath(const Publication::Request &request) const;
    HttpFront::Reply status(const QString &path) const;
    QStringList receiversOf(const QString &topic) const;
    void takeRequest(const Publication::Message &message,
                     const QHostAddress &client,
                     const std::function<void(const HttpFront::Reply &)> &answer);
    void take(const Publication::Message &message,
              const QStringList &receivers,
              const QString &origin,
              bool again,
              std::function<void(Took, const Taken &)> done);
    void commit();
    void accepted(const Taken &taken);
    void full(const QStringList &receivers);
    bool overRate(const QHostAddress &client, qint64 now);
    void startMqtt();
    void fromBroker(const Publication::Message &message,
                    const MqttClient::Received &received,
                    const QString &origin);
    void brokerConnected();
    void stateChanged(const QString &receiver);
    void publishStates();

    RelaySettings m_settings;
    std::unique_ptr<RelayStore> m_store;
    Options m_options;
    Inet m_plain;
    Inet m_waking;
    HttpFront m_front;
    QHash<QString, ReceiverQueue *> m_queues;
    QList<Taken> m_batch;                           // accepted together, in one commit
    QHash<QString, std::deque<qint64>> m_publishes; // by client address: when it published
    MqttFront *m_mqtt = nullptr;                    // none without a broker
    QSet<QString> m_changed;                        // receivers whose state is to be published
    QHash<QString, int> m_dropped;                  // by receiver: dropped as full, this burst
};
