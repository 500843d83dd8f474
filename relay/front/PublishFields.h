#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <chrono>
#include <optional>

// The fields a publisher gives a message, read from their text as ntfy, Gotify and the relay's
// own names define them. Each takes what a header, a query or a JSON field held, and returns
// the value, or nothing when the text is not one: the caller answers with the error.
namespace PublishFields {

// A topic: a receiver's name, or "all": 1 to 64 of A-Z, a-z, 0-9, '-' and '_'.
bool IsTopic(QStringView name);

// ntfy's priority: 1 to 5, or min, low, default, high, max or urgent (= max), in any case.
std::optional<int> Priority(QStringView text);

// Gotify's priority, 0 to 10, as the relay's: 0-3 low (2), 4-7 default (3), 8-10 urgent (5).
std::optional<int> GotifyPriority(qint64 priority);

// How long a message stays worth showing: "90" or "90s" seconds, "10m", "2h", "1d"; more than
// none and at most a year.
std::optional<std::chrono::seconds> Lifetime(QStringView text);

// How long the receiver shows a message, in whole seconds from 0 (the relay's Timeout) to a day.
std::optional<std::chrono::seconds> DisplayTime(QStringView text);

// A header's value as text: UTF-8, with RFC 2047's encoded words (=?UTF-8?B?…?= and
// =?ISO-8859-1?Q?…?=, as mail and ntfy's clients send non-ASCII headers) decoded. A word that is
// not well formed, or in another character set, stays as it came.
QString HeaderText(const QByteArray &value);

} // namespace PublishFields
