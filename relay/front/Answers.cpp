#include "Answers.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace Answers {

namespace {

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Gotify's name for an HTTP status, as its errors carry it.
QString statusName(int http)
{
    switch (http) {
    case 401:
        return QStringLiteral("Unauthorized");
    case 403:
        return QStringLiteral("Forbidden");
    case 404:
        return QStringLiteral("Not Found");
    case 413:
        return QStringLiteral("Request Entity Too Large");
    case 429:
        return QStringLiteral("Too Many Requests");
    default:
        return http >= 500 ? QStringLiteral("Internal Server Error")
                           : QStringLiteral("Bad Request");
    }
}

} // namespace

QByteArray NtfyMessage(qint64 id,
                       const QDateTime &accepted,
                       const QDateTime &expires,
                       const Publication::Message &message)
{
    QJsonObject answer{{QStringLiteral("id"), QString::number(id)},
                       {QStringLiteral("time"), accepted.toSecsSinceEpoch()},
                       {QStringLiteral("expires"), expires.toSecsSinceEpoch()},
                       {QStringLiteral("event"), QStringLiteral("message")},
                       {QStringLiteral("topic"), message.topic},
                       {QStringLiteral("message"), message.text}};
    if (!message.title.isEmpty())
        answer.insert(QStringLiteral("title"), message.title);
    if (message.priority != 3) // ntfy leaves the default out
        answer.insert(QStringLiteral("priority"), message.priority);
    return compact(answer);
}

QByteArray NtfyError(const Publication::Refusal &refusal)
{
    return compact({{QStringLiteral("code"), refusal.code},
                    {QStringLiteral("http"), refusal.http},
                    {QStringLiteral("error"), refusal.error}});
}

QByteArray GotifyMessage(qint64 id, const QDateTime &accepted, const Publication::Message &message)
{
    // Back on Gotify's scale: the lowest of the band each priority stands for.
    const int priority = message.priority <= 2 ? 0 : message.priority <= 4 ? 4 : 8;
    return compact({{QStringLiteral("id"), id},
                    {QStringLiteral("appid"), 1},
                    {QStringLiteral("message"), message.text},
                    {QStringLiteral("title"), message.title},
                    {QStringLiteral("priority"), priority},
                    {QStringLiteral("date"), accepted.toUTC().toString(Qt::ISODate)}});
}

QByteArray GotifyError(const Publication::Refusal &refusal)
{
    return compact({{QStringLiteral("error"), statusName(refusal.http)},
                    {QStringLiteral("errorCode"), refusal.http},
                    {QStringLiteral("errorDescription"), refusal.error}});
}

} // namespace Answers
