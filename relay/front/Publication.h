#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>
#include <utility>
#include <variant>

// A publish request as the HTTP server hands it over, read into the message it asks for, as
// ntfy, Gotify and a generic webhook send it; or why it is refused, in ntfy's codes. No socket:
// tests and fuzzers can give it anything.
namespace Publication {

constexpr qsizetype MaxText = 4096;     // bytes of a message's text
constexpr qsizetype MaxReference = 128; // characters of a publisher's own id for a message

struct Request
{
    QByteArray method;                                // GET, PUT, POST
    QString path;                                     // decoded: "/living-room/publish"
    QList<std::pair<QString, QString>> query;         // decoded, in order
    QList<std::pair<QByteArray, QByteArray>> headers; // as sent
    QByteArray body;
};

// How the publisher wants to hear back: as ntfy or as Gotify answers; over MQTT, not at all.
enum class Dialect { Ntfy, Gotify, Mqtt };

// The message a request publishes.
struct Message
{
    Dialect dialect = Dialect::Ntfy;
    QString topic; // a receiver's name, or "all"
    QString text;
    QString title;
    int priority = 3;  // 1 to 5
    QString type;      // info, warning, error or question; empty: info
    QString reference; // the publisher's own id for it, said again with a question's answer
    std::optional<std::chrono::seconds> display; // a question: how long its answer is awaited
    std::optional<std::chrono::seconds> lifetime;
};

// Why a request is refused: the HTTP status and ntfy's code, with words of the relay's own.
struct Refusal
{
    int http = 400;
    int code = 40000;
    QString error;
};

// The message, or why not. Not a publish at all (another path or method): nothing.
std::optional<std::variant<Message, Refusal>> Read(const Request &request);

// A message published over MQTT to topic (a receiver's name, or "all"): the payload's text, or a
// JSON object with "message" and the fields a JSON publish has. Or why it is dropped.
std::variant<Message, Refusal> FromPayload(const QString &topic, const QByteArray &payload);

} // namespace Publication
