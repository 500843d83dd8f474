#include "Publication.h"
#include "PublishFields.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>

namespace Publication {

namespace {

using Result = std::variant<Message, Refusal>;

Refusal refused(int http, int code, const QString &error)
{
    return Refusal{http, code, error};
}

// A header by any of its names, in any case; then a query value by any of its names, as given.
std::optional<QString> field(const Request &request,
                             std::initializer_list<const char *> headers,
                             std::initializer_list<const char *> query)
{
    for (const char *name : headers)
        for (const auto &[header, value] : request.headers)
            if (header.compare(name, Qt::CaseInsensitive) == 0)
                return PublishFields::HeaderText(value).trimmed();
    for (const char *name : query)
        for (const auto &[key, value] : request.query)
            if (key == QLatin1String(name))
                return value;
    return std::nullopt;
}

// The fields every dialect may give, from their texts; a refusal where one is not what it says.
std::optional<Refusal> readFields(Message &message,
                                  const std::optional<QString> &priority,
                                  const std::optional<QString> &type,
                                  const std::optional<QString> &display,
                                  const std::optional<QString> &lifetime)
{
    if (priority) {
        const auto level = PublishFields::Priority(*priority);
        if (!level)
            return refused(400,
                           40007,
                           QStringLiteral("the priority is none of 1 to 5, min, low, "
                                          "default, high, max or urgent"));
        message.priority = *level;
    }
    if (type) {
        message.type = type->trimmed().toLower();
        if (!QStringList{"info", "warning", "error", "question"}.contains(message.type))
            return refused(
                400, 40000, QStringLiteral("the type is none of info, warning, error, question"));
    }
    if (display) {
        message.display = PublishFields::DisplayTime(*display);
        if (!message.display)
            return refused(
                400, 40000, QStringLiteral("the timeout is no whole seconds up to a day"));
    }
    if (lifetime) {
        message.lifetime = PublishFields::Lifetime(*lifetime);
        if (!message.lifetime)
            return refused(400,
                           40000,
                           QStringLiteral("the lifetime is no duration, as 90s, 10m, "
                                          "2h or 1d, up to a year"));
    }
    return std::nullopt;
}

// A JSON value as text: strings as they are, numbers as written.
std::optional<QString> text(const QJsonObject &object, const char *name)
{
    const QJsonValue value = object.value(QLatin1String(name));
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(value.toDouble());
    return std::nullopt;
}

// A message from a JSON object's fields, as ntfy's JSON publish and webhooks send them.
Result fromObject(Message message, const QJsonObject &object)
{
    if (!object.value(QLatin1String("message")).isString())
        return refused(400, 40017, QStringLiteral("the JSON has no \"message\" text"));
    message.text = object.value(QLatin1String("message")).toString();
    message.title = text(object, "title").value_or(QString());
    message.reference = text(object, "id").value_or(QString());
    if (message.reference.size() > MaxReference)
        return refused(
            400, 40000, QStringLiteral("the id is longer than %1 characters").arg(MaxReference));
    std::optional<QString> priority = text(object, "priority");
    if (message.dialect == Dialect::Gotify && priority) { // 0 to 10, Gotify's own scale
        bool isNumber = false;
        const qint64 number = priority->toLongLong(&isNumber);
        const auto level = isNumber ? PublishFields::GotifyPriority(number) : std::nullopt;
        if (!level)
            return refused(
                400, 40007, QStringLiteral("the priority is no whole number from 0 to 10"));
        message.priority = *level;
        priority.reset();
    }
    if (auto why = readFields(message,
                              priority,
                              text(object, "type"),
                              text(object, "timeout"),
                              text(object, "lifetime")))
        return *why;
    return message;
}

// The body of a POST to a topic: JSON or form fields when it says so, else the text itself.
Result fromBody(const Request &request, Message message)
{
    const QByteArray type = [&request] {
        for (const auto &[header, value] : request.headers)
            if (header.compare("Content-Type", Qt::CaseInsensitive) == 0)
                return value.split(';').first().trimmed().toLower();
        return QByteArray();
    }();
    if (type == "application/json") {
        const QJsonDocument json = QJsonDocument::fromJson(request.body);
        if (json.isObject() && json.object().value(QLatin1String("message")).isString())
            return fromObject(message, json.object());
    }
    if (type == "application/x-www-form-urlencoded") {
        const QUrlQuery form(QString::fromUtf8(request.body).replace(u'+', u' '));
        if (form.hasQueryItem(QStringLiteral("message"))) {
            QJsonObject fields;
            for (const auto &[key, value] : form.queryItems(QUrl::FullyDecoded))
                fields.insert(key, value);
            return fromObject(message, fields);
        }
    }
    if (message.dialect == Dialect::Gotify)
        return refused(400,
                       40000,
                       QStringLiteral("Gotify's message comes as JSON or as a form "
                                      "with a \"message\" field"));
    message.text = QString::fromUtf8(request.body);
    return message;
}

// A publish to a topic, ntfy's way: the text as the body or in ?message=, the fields as
// headers or query names.
Result toTopic(const Request &request, const QString &topic, bool byQuery)
{
    Message message;
    message.topic = topic;
    if (!PublishFields::IsTopic(topic))
        return refused(400, 40009, QStringLiteral("the topic is no receiver's name"));
    message.title
        = field(request, {"X-Title", "Title", "ti", "t"}, {"title", "ti", "t"}).value_or(QString());
    if (auto why = readFields(
            message,
            field(request, {"X-Priority", "Priority", "prio", "p"}, {"priority", "prio", "p"}),
            field(request, {"X-Type"}, {"type"}),
            field(request, {"X-Timeout"}, {"timeout"}),
            field(request, {"X-Lifetime"}, {"lifetime"})))
        return *why;
    Result read = message;
    if (byQuery)
        std::get<Message>(read).text = field(request, {}, {"message", "m"}).value_or(QString());
    else
        read = fromBody(request, message);
    // As ntfy: a publish without text still says something happened.
    if (Message *published = std::get_if<Message>(&read); published && published->text.isEmpty())
        published->text = QStringLiteral("triggered");
    return read;
}

} // namespace

Result FromPayload(const QString &topic, const QByteArray &payload)
{
    if (payload.size() > MaxText)
        return refused(413, 41301, QStringLiteral("the message is longer than 4096 bytes"));
    if (!payload.isValidUtf8())
        return refused(400, 40011, QStringLiteral("the message is no UTF-8 text"));
    Message message;
    message.dialect = Dialect::Mqtt;
    message.topic = topic;
    if (!payload.trimmed().startsWith('{')) {
        message.text = QString::fromUtf8(payload);
        if (message.text.trimmed().isEmpty())
            return refused(400, 40000, QStringLiteral("the message is empty"));
        return message;
    }
    const QJsonDocument json = QJsonDocument::fromJson(payload);
    if (!json.isObject())
        return refused(400, 40017, QStringLiteral("the message looks like JSON but is none"));
    return fromObject(message, json.object());
}

std::optional<Result> Read(const Request &request)
{
    if (request.body.size() > MaxText)
        return refused(413, 41301, QStringLiteral("the message is longer than 4096 bytes"));
    if (!request.body.isValidUtf8())
        return refused(400, 40011, QStringLiteral("the message is no UTF-8 text"));
    const QStringList parts = request.path.mid(1).split(u'/');
    const bool post = request.method == "POST" || request.method == "PUT";
    std::optional<Result> read;
    if (request.method == "POST" && request.path == QLatin1String("/message")) {
        Message message;
        message.dialect = Dialect::Gotify;
        message.topic = QStringLiteral("all");
        read = fromBody(request, message);
    } else if (request.method == "POST" && request.path == QLatin1String("/")) {
        const QJsonDocument json = QJsonDocument::fromJson(request.body);
        if (!json.isObject())
            return refused(400, 40017, QStringLiteral("the body is no JSON object"));
        Message message;
        message.topic = json.object().value(QLatin1String("topic")).toString();
        if (!PublishFields::IsTopic(message.topic))
            return refused(400, 40009, QStringLiteral("the topic is no receiver's name"));
        read = fromObject(message, json.object());
    } else if (post && parts.size() == 1) {
        read = toTopic(request, parts.first(), false);
    } else if (request.method == "GET" && parts.size() == 2
               && QStringList{"publish", "send", "trigger"}.contains(parts.last())) {
        read = toTopic(request, parts.first(), true);
    } else {
        return std::nullopt;
    }
    if (const Message *message = std::get_if<Message>(&*read);
        message && message->text.toUtf8().size() > MaxText)
        return refused(413, 41301, QStringLiteral("the message is longer than 4096 bytes"));
    return read;
}

} // namespace Publication
