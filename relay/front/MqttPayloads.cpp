#include "MqttPayloads.h"
#include "PlainText.h"
#include "PublishFields.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace MqttPayloads {

namespace {

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString nodeOf(const QString &receiver)
{
    return QStringLiteral("quillora_") + receiver;
}

QString relayNode(const Topics &topics)
{
    return QStringLiteral("quillora_relay_") + QString(topics.relayId).replace(u'.', u'_');
}

QString
configTopic(const Topics &topics, const char *component, const QString &node, const char *object)
{
    return topics.discovery + u'/' + QLatin1String(component) + u'/' + node + u'/'
           + QLatin1String(object) + QStringLiteral("/config");
}

// The fields every entity of a receiver shares: its device, the relay's availability, and who
// made the config.
QJsonObject entity(const Topics &topics,
                   const QString &receiver,
                   const char *object,
                   const QJsonValue &name,
                   const QString &version)
{
    const QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{nodeOf(receiver)}},
        {QStringLiteral("name"), PlainText::from(receiver, 64)},
        {QStringLiteral("manufacturer"), QStringLiteral("Quillora")},
        {QStringLiteral("model"), QStringLiteral("Satellite receiver")},
        {QStringLiteral("via_device"), relayNode(topics)},
    };
    return {{QStringLiteral("name"), name},
            {QStringLiteral("unique_id"), nodeOf(receiver) + u'_' + QLatin1String(object)},
            {QStringLiteral("availability_topic"), topics.availability()},
            {QStringLiteral("payload_available"), QStringLiteral("online")},
            {QStringLiteral("payload_not_available"), QStringLiteral("offline")},
            {QStringLiteral("device"), device},
            {QStringLiteral("origin"),
             QJsonObject{{QStringLiteral("name"), QStringLiteral("quillora-relay")},
                         {QStringLiteral("sw_version"), version}}}};
}

} // namespace

std::optional<Topics::Asked> Topics::asked(const QString &topic) const
{
    if (!topic.startsWith(prefix + u'/'))
        return std::nullopt;
    const QStringList levels = topic.mid(prefix.size() + 1).split(u'/');
    if (levels.size() != 2 || !PublishFields::IsTopic(levels[0]))
        return std::nullopt;
    if (levels[1] == QLatin1String("notify"))
        return Asked{Asked::Kind::Notify, levels[0]};
    if (levels[1] == QLatin1String("wake") && levels[0] != QLatin1String("all"))
        return Asked{Asked::Kind::Wake, levels[0]};
    return std::nullopt;
}

QByteArray StateJson(const State &state)
{
    QJsonObject object{{QStringLiteral("power"), state.power},
                       {QStringLiteral("waiting"), qint64(state.waiting)}};
    object.insert(QStringLiteral("last"),
                  state.lastId == 0
                      ? QJsonValue()
                      : QJsonObject{{QStringLiteral("id"), QString::number(state.lastId)},
                                    {QStringLiteral("state"), state.lastState},
                                    {QStringLiteral("at"), state.lastAt}});
    return compact(object);
}

QByteArray AnswerJson(const QString &reference, qint64 id, const QString &answer)
{
    return compact({{QStringLiteral("id"), reference.isEmpty() ? QString::number(id) : reference},
                    {QStringLiteral("message"), QString::number(id)},
                    {QStringLiteral("answer"), answer}});
}

Retained DiscoveryConfigs(const Topics &topics, const QString &receiver, const QString &version)
{
    const QString node = nodeOf(receiver);
    QJsonObject notify = entity(topics, receiver, "message", QJsonValue(), version);
    notify.insert(QStringLiteral("command_topic"), topics.notify(receiver));
    QJsonObject screen = entity(topics, receiver, "screen", QStringLiteral("Screen on"), version);
    screen.insert(QStringLiteral("state_topic"), topics.state(receiver));
    screen.insert(QStringLiteral("device_class"), QStringLiteral("power"));
    // Standby and unreachable both leave the screen dark; what the relay has not learnt yet is
    // unknown to Home Assistant too.
    screen.insert(QStringLiteral("value_template"),
                  QStringLiteral("{% if value_json.power == 'on' %}ON{% elif value_json.power in "
                                 "['standby', 'unreachable'] %}OFF{% else %}None{% endif %}"));
    QJsonObject waiting
        = entity(topics, receiver, "waiting", QStringLiteral("Messages waiting"), version);
    waiting.insert(QStringLiteral("state_topic"), topics.state(receiver));
    waiting.insert(QStringLiteral("value_template"), QStringLiteral("{{ value_json.waiting }}"));
    waiting.insert(QStringLiteral("state_class"), QStringLiteral("measurement"));
    QJsonObject wake = entity(topics, receiver, "wake", QStringLiteral("Wake"), version);
    wake.insert(QStringLiteral("command_topic"), topics.wake(receiver));
    QJsonObject answer = entity(topics, receiver, "answer", QStringLiteral("Answer"), version);
    answer.insert(QStringLiteral("state_topic"), topics.answer(receiver));
    answer.insert(QStringLiteral("event_types"),
                  QJsonArray{QStringLiteral("yes"), QStringLiteral("no"), QStringLiteral("none")});
    answer.insert(QStringLiteral("value_template"),
                  QStringLiteral("{{ {'event_type': value_json.answer, 'id': value_json.id} | "
                                 "to_json }}"));
    return {{configTopic(topics, "notify", node, "message"), compact(notify)},
            {configTopic(topics, "binary_sensor", node, "screen"), compact(screen)},
            {configTopic(topics, "sensor", node, "waiting"), compact(waiting)},
            {configTopic(topics, "button", node, "wake"), compact(wake)},
            {configTopic(topics, "event", node, "answer"), compact(answer)}};
}

Retained RelayConfig(const Topics &topics, const QString &version)
{
    const QJsonObject device{{QStringLiteral("identifiers"), QJsonArray{relayNode(topics)}},
                             {QStringLiteral("name"), QStringLiteral("Quillora relay")},
                             {QStringLiteral("manufacturer"), QStringLiteral("Quillora")},
                             {QStringLiteral("model"), QStringLiteral("quillora-relay")},
                             {QStringLiteral("sw_version"), version}};
    const QJsonObject connected{
        {QStringLiteral("name"), QStringLiteral("Connected")},
        {QStringLiteral("unique_id"), relayNode(topics) + QStringLiteral("_connected")},
        {QStringLiteral("state_topic"), topics.availability()},
        {QStringLiteral("payload_on"), QStringLiteral("online")},
        {QStringLiteral("payload_off"), QStringLiteral("offline")},
        {QStringLiteral("device_class"), QStringLiteral("connectivity")},
        {QStringLiteral("device"), device},
        {QStringLiteral("origin"),
         QJsonObject{{QStringLiteral("name"), QStringLiteral("quillora-relay")},
                     {QStringLiteral("sw_version"), version}}}};
    return {
        {configTopic(topics, "binary_sensor", relayNode(topics), "connected"), compact(connected)}};
}

Retained ClearedConfigs(const Topics &topics, const QString &receiver)
{
    Retained cleared;
    for (const auto &[topic, payload] : DiscoveryConfigs(topics, receiver, {}))
        cleared += {topic, QByteArray()};
    cleared += {topics.state(receiver), QByteArray()};
    return cleared;
}

} // namespace MqttPayloads
