#pragma once

#include "Message.h"
#include "RelayRules.h"
#include "RelayStore.h"

#include <QObject>
#include <QTimer>

#include <functional>

class Inet;

// One receiver's line of messages: carries out what the rules decide, one message at a time,
// through the receiver's dialogue, and keeps where each message stands in the store.
class ReceiverQueue : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<qint64()>; // milliseconds since the epoch
    // How long a question that names no time waits for a person's answer.
    static constexpr std::chrono::seconds QuestionWait{60};
    using Log = std::function<void(const QString &line)>;

    struct Senders
    {
        Inet *plain = nullptr;  // a message for a lit screen
        Inet *waking = nullptr; // one that wakes the receiver first: a longer time-out
    };

    ReceiverQueue(const QString &name,
                  const Message &reaching, // the address and hardware address, nothing said yet
                  RelayStore &store,
                  Senders senders,
                  const RelayRules::Settings &settings,
                  Clock now,
                  Log log,
                  QObject *parent = nullptr);

    // What the relay last learnt of the receiver's screen.
    enum class Power { Unknown, On, Standby, Unreachable };

    // Something came or changed: decide now, unless a message is on its way.
    void poke();
    // Switch the receiver on, as a message that wakes it would; after the message on its way,
    // if one is.
    void wake();

    Power power() const { return m_power; }
    // The last message whose state changed: its id (0: none yet), state and when.
    qint64 lastId() const { return m_lastId; }
    RelayStore::State lastState() const { return m_lastState; }
    qint64 lastAt() const { return m_lastAt; }

signals:
    void changed(); // the power, the messages waiting or the last message's state
    void answered(qint64 id, const QString &answer); // yes, no or none

private:
    void decide();
    void expire(const QList<qint64> &ids);
    void send(const RelayRules::Waiting &pending, bool wake);
    void woken(const SendOutcome &outcome);
    void learnt(Power power);
    void sent(const RelayRules::Waiting &pending, const SendOutcome &outcome);
    void hold(qint64 id, RelayStore::State state, const QString &reason);
    void set(qint64 id, RelayStore::State state, const QString &reason = {});

    QString m_name;
    Message m_reaching;
    RelayStore &m_store;
    Senders m_senders;
    RelayRules::Settings m_settings;
    Clock m_now;
    Log m_log;
    RelayRules::Receiver m_state;
    QTimer m_timer;
    bool m_sending = false;
    bool m_wakeWanted = false;
    Power m_power = Power::Unknown;
    qint64 m_lastId = 0;
    RelayStore::State m_lastState = RelayStore::State::Waiting;
    qint64 m_lastAt = 0;
};
