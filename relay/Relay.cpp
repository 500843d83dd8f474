#include "Relay.h"
#include "Answers.h"
#include "PlainText.h"
#include "Tokens.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QTimer>

namespace {

constexpr qint64 Minute = 60 * 1000;

HttpFront::Reply json(int status, const QJsonObject &object)
{
    return {status, QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

HttpFront::Reply refused(const Publication::Refusal &refusal, Publication::Dialect dialect)
{
    return {refusal.http,
            dialect == Publication::Dialect::Gotify ? Answers::GotifyError(refusal)
                                                    : Answers::NtfyError(refusal)};
}

// A request that carries none of the relay's tokens, where it has any.
const Publication::Refusal Unauthorized{
    401, 40101, QStringLiteral("unauthorized: give one of the relay's tokens")};

Publication::Dialect dialectOf(const Publication::Request &request)
{
    return request.path == QLatin1String("/message") ? Publication::Dialect::Gotify
                                                     : Publication::Dialect::Ntfy;
}

QDateTime at(qint64 milliseconds)
{
    return QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC);
}

QJsonObject statusJson(const RelayStore::Status &status)
{
    QJsonArray receivers;
    for (const RelayStore::Delivery &delivery : status.deliveries) {
        QJsonObject one{{QStringLiteral("receiver"), delivery.receiver},
                        {QStringLiteral("state"), RelayStore::Name(delivery.state)},
                        {QStringLiteral("changed"), delivery.changed / 1000}};
        if (!delivery.reason.isEmpty())
            one.insert(QStringLiteral("reason"), delivery.reason);
        if (!delivery.answer.isEmpty())
            one.insert(QStringLiteral("answer"), delivery.answer);
        receivers.append(one);
    }
    const RelayStore::Message &message = status.message;
    return {{QStringLiteral("id"), QString::number(message.id)},
            {QStringLiteral("time"), message.accepted / 1000},
            {QStringLiteral("expires"), message.expires / 1000},
            {QStringLiteral("topic"), message.topic},
            {QStringLiteral("title"), message.title},
            {QStringLiteral("message"), message.text},
            {QStringLiteral("priority"), message.priority},
            {QStringLiteral("type"), message.type},
            {QStringLiteral("receivers"), receivers}};
}

QString powerName(ReceiverQueue::Power power)
{
    switch (power) {
    case ReceiverQueue::Power::Unknown:
        return QStringLiteral("unknown");
    case ReceiverQueue::Power::On:
        return QStringLiteral("on");
    case ReceiverQueue::Power::Standby:
        return QStringLiteral("standby");
    case ReceiverQueue::Power::Unreachable:
        return QStringLiteral("unreachable");
    }
    return {};
}

// What the front answers before a request is whole, in ntfy's words.
HttpFront::Reply frontRefusal(int status)
{
    switch (status) {
    case 413:
        return refused({413, 41301, QStringLiteral("the message is longer than 4096 bytes")},
                       Publication::Dialect::Ntfy);
    case 431:
        return refused({431, 43101, QStringLiteral("the request's head is longer than 8 KiB")},
                       Publication::Dialect::Ntfy);
    default:
        return refused({503, 50301, QStringLiteral("the relay is stopping; publish again later")},
                       Publication::Dialect::Ntfy);
    }
}

// ntfy's account, as its clients read it: who the token is, and no limits of ntfy's to speak of.
QJsonObject account(const QString &name)
{
    QJsonObject stats;
    for (const char *key : {"messages",
                            "messages_remaining",
                            "emails",
                            "emails_remaining",
                            "calls",
                            "calls_remaining",
                            "reservations",
                            "reservations_remaining",
                            "attachment_total_size",
                            "attachment_total_size_remaining"})
        stats.insert(QLatin1String(key), 0);
    return {{QStringLiteral("username"), name},
            {QStringLiteral("role"),
             name == QLatin1String("*") ? QStringLiteral("anonymous") : QStringLiteral("user")},
            {QStringLiteral("stats"), stats}};
}

} // namespace

Relay::Relay(const RelaySettings &settings,
             std::unique_ptr<RelayStore> store,
             Options options,
             QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_store(std::move(store))
    , m_options(std::move(options))
    , m_plain(m_options.sendWithin)
    , m_waking(m_options.wakeWithin)
{
    if (!m_options.now)
        m_options.now = [] {
            return QDateTime::currentMSecsSinceEpoch();
        };
    if (!m_options.log)
        m_options.log = [](const QString &) {
        };
    CertificateTrust trust;
    trust.kept = [fingerprints = m_settings.fingerprints](const QString &receiver) {
        return fingerprints.value(receiver);
    };
    m_plain.setCertificateTrust(trust);
    m_waking.setCertificateTrust(trust);
    connect(&m_front, &HttpFront::received, this, &Relay::handle);
}

Relay::~Relay()
{
    m_front.close();
}

void Relay::stop(std::function<void()> done)
{
    if (!m_mqtt)
        return done();
    m_mqtt->stop(std::move(done));
}

std::optional<QString> Relay::start()
{
    if (const auto why = m_store->Recover(m_options.now()))
        return QStringLiteral("the store can't be read: %1").arg(*why);
    const RelayRules::Settings rules{
        m_settings.timeout, m_settings.standbyCheck, m_settings.wakeAt};
    for (auto receiver = m_settings.receivers.cbegin(); receiver != m_settings.receivers.cend();
         ++receiver) {
        Message reaching;
        reaching.address = receiver.value();
        reaching.hardwareAddress = m_settings.hardwareAddresses.value(receiver->receiverKey());
        auto *queue = new ReceiverQueue(receiver.key(),
                                        reaching,
                                        *m_store,
                                        {&m_plain, &m_waking},
                                        rules,
                                        m_options.now,
                                        m_options.log,
                                        this);
        m_queues.insert(receiver.key(), queue);
        connect(queue, &ReceiverQueue::changed, this, [this, name = receiver.key()] {
            stateChanged(name);
        });
        connect(queue,
                &ReceiverQueue::answered,
                this,
                [this, name = receiver.key()](qint64 id, const QString &answer) {
                    const auto message = m_store->Find(id);
                    if (m_mqtt && message)
                        m_mqtt->publishAnswer(
                            name, MqttPayloads::AnswerJson(message->reference, id, answer));
                });
    }
    if (m_queues.isEmpty())
        m_options.log(QStringLiteral("no receivers in [Receivers]: every topic is answered 404"));
    if (const auto why
        = m_front.listen(m_settings.listenAddress, m_settings.listenPort, frontRefusal))
        return QStringLiteral("can't listen at %1 port %2: %3")
            .arg(m_settings.listenAddress.toString())
            .arg(m_settings.listenPort)
            .arg(*why);
    for (ReceiverQueue *queue : std::as_const(m_queues))
        queue->poke();
    if (m_settings.mqtt)
        startMqtt();
    return std::nullopt;
}

void Relay::startMqtt()
{
    const MqttSettings &settings = *m_settings.mqtt;
    MqttClient::Options options;
    options.host = settings.host;
    options.port = settings.port;
    options.tls = settings.tls;
    options.fingerprint = settings.fingerprint;
    options.firstPause = m_options.brokerPause;
    options.connect.clientId = settings.clientIdOr(QSysInfo::machineHostName());
    options.connect.user = settings.user;
    options.connect.password = settings.password;
    options.connect.cleanSession = false; // what is published while the relay is away waits
    MqttPayloads::Topics topics{settings.prefix, settings.discovery, options.connect.clientId};
    m_mqtt = new MqttFront(options, topics, m_settings.receivers.keys(), m_options.log, this);
    connect(m_mqtt, &MqttFront::connected, this, &Relay::brokerConnected);
    connect(m_mqtt, &MqttFront::message, this, &Relay::fromBroker);
    connect(m_mqtt, &MqttFront::wake, this, [this](const QString &receiver) {
        if (ReceiverQueue *queue = m_queues.value(receiver))
            queue->wake();
        else
            m_options.log(QStringLiteral("MQTT: no receiver is called %1 to wake").arg(receiver));
    });
    m_mqtt->start();
}

// Everything the relay keeps published goes again: the broker may have lost it.
void Relay::brokerConnected()
{
    const MqttPayloads::Topics &topics = m_mqtt->topics();
    if (!topics.discovery.isEmpty()) {
        const QString version = QCoreApplication::applicationVersion();
        m_mqtt->publishRetained(MqttPayloads::RelayConfig(topics, version));
        for (const QString &receiver : m_settings.receivers.keys())
            m_mqtt->publishRetained(MqttPayloads::DiscoveryConfigs(topics, receiver, version));
        for (const QString &gone : m_store->Announced())
            if (!m_settings.receivers.contains(gone)) {
                m_mqtt->publishRetained(MqttPayloads::ClearedConfigs(topics, gone));
                m_options.log(QStringLiteral("MQTT: %1 is no longer a receiver: its entities are "
                                             "taken back")
                                  .arg(gone));
            }
        if (const auto why = m_store->SetAnnounced(m_settings.receivers.keys()))
            m_options.log(QStringLiteral("store: %1").arg(*why));
    }
    for (const QString &receiver : m_settings.receivers.keys())
        stateChanged(receiver);
}

void Relay::stateChanged(const QString &receiver)
{
    if (!m_mqtt)
        return;
    if (m_changed.isEmpty()) // all that change meanwhile go together
        QTimer::singleShot(0, this, &Relay::publishStates);
    m_changed.insert(receiver);
}

void Relay::publishStates()
{
    for (const QString &receiver : std::exchange(m_changed, {})) {
        const ReceiverQueue *queue = m_queues.value(receiver);
        MqttPayloads::State state;
        state.power = powerName(queue->power());
        state.waiting = m_store->PendingFor(receiver).size();
        state.lastId = queue->lastId();
        state.lastState = RelayStore::Name(queue->lastState());
        state.lastAt = queue->lastAt() / 1000;
        m_mqtt->publishState(receiver, state);
    }
}

void Relay::fromBroker(const Publication::Message &message,
                       const MqttClient::Received &received,
                       const QString &origin)
{
    const QStringList receivers = receiversOf(message.topic);
    if (receivers.isEmpty()) {
        m_mqtt->acknowledge(received);
        m_options.log(QStringLiteral("dropped: a message for %1: no receiver is called so")
                          .arg(message.topic));
        return;
    }
    take(message,
         receivers,
         origin,
         received.publish.duplicate,
         [this, received](Took took, const Taken &) {
             // Not kept, it is not acknowledged: the broker sends it again on the next connection.
             if (took != Took::NotStored)
                 m_mqtt->acknowledge(received);
         });
}

void Relay::handle(const HttpFront::Incoming &incoming)
{
    const Publication::Request &request = incoming.request;
    if (request.method == "GET" && request.path == QLatin1String("/v1/health"))
        return incoming.answer(json(200, {{QStringLiteral("healthy"), true}}));
    if (!Tokens::Allowed(request, m_settings.tokens))
        return incoming.answer(refused(Unauthorized, dialectOf(request)));
    if (const auto reply = ownPath(request))
        return incoming.answer(*reply);
    const auto read = Publication::Read(request);
    if (!read)
        return incoming.answer(
            refused({404, 40401, QStringLiteral("page not found")}, Publication::Dialect::Ntfy));
    if (const auto *refusal = std::get_if<Publication::Refusal>(&*read))
        return incoming.answer(refused(*refusal, dialectOf(request)));
    takeRequest(std::get<Publication::Message>(*read), incoming.client, incoming.answer);
}

// What the relay answers of its own, as ntfy does: its health, the account a token stands for,
// and where each message stands.
std::optional<HttpFront::Reply> Relay::ownPath(const Publication::Request &request) const
{
    const QString &path = request.path;
    if (request.method == "GET" && path == QLatin1String("/v1/account"))
        return json(200, account(Tokens::Carried(request, m_settings.tokens).value_or("*")));
    if (request.method == "POST" && path == QLatin1String("/v1/account/token")) {
        // A token stands for itself: whoever gave it gets it back as the one to use.
        const auto name = Tokens::Carried(request, m_settings.tokens);
        if (!name)
            return refused(Unauthorized, Publication::Dialect::Ntfy);
        return json(200,
                    {{QStringLiteral("token"), QString::fromUtf8(m_settings.tokens.value(*name))},
                     {QStringLiteral("label"), *name},
                     {QStringLiteral("last_access"), m_options.now() / 1000}});
    }
    if (request.method == "GET"
        && (path == QLatin1String("/v1/messages")
            || path.startsWith(QLatin1String("/v1/messages/"))))
        return status(path);
    return std::nullopt;
}

HttpFront::Reply Relay::status(const QString &path) const
{
    if (path == QLatin1String("/v1/messages")) {
        QJsonArray messages;
        for (const RelayStore::Status &one : m_store->Recent(ListedMessages))
            messages.append(statusJson(one));
        return json(200, {{QStringLiteral("messages"), messages}});
    }
    bool number = false;
    const qint64 id = path.mid(int(sizeof "/v1/messages/") - 1).toLongLong(&number);
    const auto found = number && id > 0 ? m_store->StatusOf(id) : std::nullopt;
    if (!found)
        return refused({404, 40401, QStringLiteral("no message has that id")},
                       Publication::Dialect::Ntfy);
    return json(200, statusJson(*found));
}

QStringList Relay::receiversOf(const QString &topic) const
{
    if (topic == QLatin1String("all"))
        return m_settings.receivers.keys();
    if (m_settings.receivers.contains(topic))
        return {topic};
    return {};
}

void Relay::takeRequest(const Publication::Message &message,
                        const QHostAddress &client,
                        const std::function<void(const HttpFront::Reply &)> &answer)
{
    const QStringList receivers = receiversOf(message.topic);
    if (receivers.isEmpty())
        return answer(
            refused({404, 40401, QStringLiteral("no receiver is called %1").arg(message.topic)},
                    message.dialect));
    if (overRate(client, m_options.now()))
        return answer(refused({429,
                               42901,
                               QStringLiteral("too many requests: at most %1 publishes a minute")
                                   .arg(m_settings.rate)},
                              message.dialect));
    take(message, receivers, {}, false, [this, answer](Took took, const Taken &taken) {
        const Publication::Dialect dialect = taken.message.dialect;
        switch (took) {
        case Took::Accepted:
        case Took::Again: {
            const RelayStore::Message &stored = taken.publish.message;
            const qint64 id = *taken.publish.id;
            return answer({200,
                           dialect == Publication::Dialect::Gotify
                               ? Answers::GotifyMessage(id, at(stored.accepted), taken.message)
                               : Answers::NtfyMessage(
                                   id, at(stored.accepted), at(stored.expires), taken.message)});
        }
        case Took::Full:
            return answer(
                refused({429,
                         42908,
                         QStringLiteral("too many messages waiting: at most %1 for a receiver")
                             .arg(m_settings.maxWaiting)},
                        dialect));
        case Took::NotStored:
            return answer(refused(
                {500, 50001, QStringLiteral("the relay could not store the message")}, dialect));
        }
    });
}

void Relay::take(const Publication::Message &message,
                 const QStringList &receivers,
                 const QString &origin,
                 bool again,
                 std::function<void(Took, const Taken &)> done)
{
    const qint64 now = m_options.now();
    RelayStore::Message stored;
    stored.accepted = now;
    stored.expires
        = now + std::chrono::milliseconds(message.lifetime.value_or(m_settings.lifetime)).count();
    stored.topic = message.topic;
    stored.title = message.title;
    stored.text = message.text;
    stored.type = message.type.isEmpty() ? QStringLiteral("info") : message.type;
    stored.priority = message.priority;
    stored.display = message.display ? message.display->count() : 0;
    stored.reference = message.reference;
    stored.origin = origin;
    if (m_batch.isEmpty()) // those that come meanwhile share the commit
        QTimer::singleShot(0, this, &Relay::commit);
    m_batch += Taken{
        {stored, receivers, std::nullopt, again && !origin.isEmpty()}, message, std::move(done)};
    if (m_batch.size() >= MaxBatch) // a commit stays short, whatever floods in
        commit();
}

void Relay::commit()
{
    QList<Taken> batch = std::exchange(m_batch, {});
    if (batch.isEmpty()) // taken by a commit of a full batch
        return;
    QList<RelayStore::Publish> publishes;
    for (const Taken &taken : std::as_const(batch))
        publishes += taken.publish;
    const auto why = m_store->Add(publishes, m_settings.maxWaiting);
    if (why)
        m_options.log(QStringLiteral("store: nothing accepted: %1").arg(*why));
    QSet<QString> poked;
    for (qsizetype i = 0; i < batch.size(); ++i) {
        Taken &taken = batch[i];
        taken.publish = publishes[i];
        const Took took = why                   ? Took::NotStored
                          : !taken.publish.id   ? Took::Full
                          : taken.publish.again ? Took::Again
                                                : Took::Accepted;
        if (took == Took::Full)
            full(taken.publish.receivers);
        if (took == Took::Accepted) {
            accepted(taken);
            for (const QString &receiver : std::as_const(taken.publish.receivers))
                poked.insert(receiver);
        }
        taken.done(took, taken);
    }
    for (const QString &receiver : std::as_const(poked)) {
        m_queues.value(receiver)->poke();
        stateChanged(receiver);
    }
}

void Relay::accepted(const Taken &taken)
{
    const RelayStore::Message &stored = taken.publish.message;
    for (const QString &receiver : std::as_const(taken.publish.receivers))
        if (const int dropped = m_dropped.take(receiver))
            m_options.log(QStringLiteral("dropped: %1 messages for %2 in all, while too many "
                                         "waited")
                              .arg(dropped)
                              .arg(receiver));
    m_options.log(QStringLiteral("accepted: message %1 for %2: %3")
                      .arg(*taken.publish.id)
                      .arg(taken.publish.receivers.join(QStringLiteral(", ")),
                           PlainText::from(stored.title.isEmpty()
                                               ? stored.text
                                               : stored.title + QStringLiteral(": ") + stored.text,
                                           120)));
}

// Messages beyond MaxWaiting are dropped with one line for each burst of them: the first says
// so, and the next accepted message says how many there were.
void Relay::full(const QStringList &receivers)
{
    for (const QString &receiver : receivers)
        if (m_dropped[receiver]++ == 0)
            m_options.log(QStringLiteral("dropped: too many messages waiting for %1 (at most "
                                         "%2); more are dropped without a line until one is "
                                         "taken")
                              .arg(receiver)
                              .arg(m_settings.maxWaiting));
}

// Whether the client has published as often as a minute allows: counted where it is not.
bool Relay::overRate(const QHostAddress &client, qint64 now)
{
    if (m_settings.rate <= 0)
        return false;
    if (m_publishes.size() >= MaxRateClients)
        m_publishes.removeIf(
            [now](const auto &entry) { return entry.value().back() <= now - Minute; });
    const QString key = client.toString();
    if (m_publishes.size() >= MaxRateClients && !m_publishes.contains(key))
        return true; // as many clients as are counted, all of them busy
    std::deque<qint64> &times = m_publishes[key];
    while (!times.empty() && times.front() <= now - Minute)
        times.pop_front();
    if (qsizetype(times.size()) >= m_settings.rate)
        return true;
    times.push_back(now);
    return false;
}
