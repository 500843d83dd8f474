#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

// The relay's topics on the house's MQTT broker, and what it publishes there, built from typed
// fields: a receiver's state, a question's answer, and the configs that make every receiver a
// device in Home Assistant. No connection: tests read each payload as the broker would get it.
namespace MqttPayloads {

struct Topics
{
    QString prefix = QStringLiteral("quillora");
    QString discovery = QStringLiteral("homeassistant"); // empty: nothing announced
    QString relayId;                                     // the relay's own device: its client id

    QString notify(const QString &receiver) const { return level(receiver, "notify"); }
    QString wake(const QString &receiver) const { return level(receiver, "wake"); }
    QString state(const QString &receiver) const { return level(receiver, "state"); }
    QString answer(const QString &receiver) const { return level(receiver, "answer"); }
    QString availability() const { return prefix + QStringLiteral("/relay/availability"); }

    // What a topic the relay subscribes to asks: a message for a receiver (or "all"), or a wake.
    struct Asked
    {
        enum class Kind { Notify, Wake } kind = Kind::Notify;
        QString receiver;
    };
    std::optional<Asked> asked(const QString &topic) const;

private:
    QString level(const QString &receiver, const char *what) const
    {
        return prefix + u'/' + receiver + u'/' + QLatin1String(what);
    }
};

// What the relay knows of one receiver, as its state topic says it.
struct State
{
    QString power = QStringLiteral("unknown"); // on, standby, unreachable or unknown
    qsizetype waiting = 0;
    qint64 lastId = 0; // 0: no message changed since the relay started
    QString lastState;
    qint64 lastAt = 0; // seconds since the epoch
};

QByteArray StateJson(const State &state);

// {"id": the publisher's own id (else the relay's), "message": the relay's id, "answer"}.
QByteArray AnswerJson(const QString &reference, qint64 id, const QString &answer);

// Home Assistant's discovery: each config topic with its payload, retained by the broker.
using Retained = QList<std::pair<QString, QByteArray>>;
Retained DiscoveryConfigs(const Topics &topics, const QString &receiver, const QString &version);
Retained RelayConfig(const Topics &topics, const QString &version);
// The config topics of a receiver no longer in the settings, each with an empty payload (and
// its state), so that its device leaves Home Assistant.
Retained ClearedConfigs(const Topics &topics, const QString &receiver);

} // namespace MqttPayloads
