#pragma once

#include "HttpFront.h"
#include "Inet.h"
#include "ReceiverQueue.h"
#include "RelaySettings.h"
#include "RelayStore.h"

#include <QHash>
#include <QObject>

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

    struct Options
    {
        std::chrono::milliseconds sendWithin{15000};  // a message to a lit screen
        std::chrono::milliseconds wakeWithin{120000}; // one that wakes its receiver first
        ReceiverQueue::Clock now;                     // none: the system's clock
        ReceiverQueue::Log log;                       // one line per thing that happened
    };

    Relay(const RelaySettings &settings,
          std::unique_ptr<RelayStore> store,
          Options options,
          QObject *parent = nullptr);
    ~Relay() override;

    // Takes up what the store holds and listens; or says why it can't.
    std::optional<QString> start();
    quint16 port() const { return m_front.port(); }

private:
    struct Taken
    {
        RelayStore::Publish publish;
        Publication::Message message;
        std::function<void(const HttpFront::Reply &)> answer;
    };

    void handle(const HttpFront::Incoming &incoming);
    std::optional<HttpFront::Reply> ownPath(const Publication::Request &request) const;
    HttpFront::Reply status(const QString &path) const;
    void take(const Publication::Message &message,
              const QHostAddress &client,
              const std::function<void(const HttpFront::Reply &)> &answer);
    void commit();
    void accepted(const Taken &taken);
    bool overRate(const QHostAddress &client, qint64 now);

    RelaySettings m_settings;
    std::unique_ptr<RelayStore> m_store;
    Options m_options;
    Inet m_plain;
    Inet m_waking;
    HttpFront m_front;
    QHash<QString, ReceiverQueue *> m_queues;
    QList<Taken> m_batch;                           // accepted together, in one commit
    QHash<QString, std::deque<qint64>> m_publishes; // by client address: when it published
};
