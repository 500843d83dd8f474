#pragma once

#include "Publication.h"

#include <QByteArray>
#include <QDateTime>

// What the relay answers a publisher, in the JSON its dialect expects: ntfy's message or error,
// Gotify's message or error. Built from the message as read, never from the request's bytes.
namespace Answers {

// ntfy: {"id", "time", "expires", "event": "message", "topic", "message", "title", "priority"}.
QByteArray NtfyMessage(qint64 id,
                       const QDateTime &accepted,
                       const QDateTime &expires,
                       const Publication::Message &message);

// ntfy: {"code", "http", "error"}.
QByteArray NtfyError(const Publication::Refusal &refusal);

// Gotify: {"id", "appid", "message", "title", "priority", "date"}, the priority on its 0–10 scale.
QByteArray GotifyMessage(qint64 id, const QDateTime &accepted, const Publication::Message &message);

// Gotify: {"error", "errorCode", "errorDescription"}.
QByteArray GotifyError(const Publication::Refusal &refusal);

} // namespace Answers
