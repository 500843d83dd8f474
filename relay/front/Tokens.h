#pragma once

#include "Publication.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>

// Which of the relay's tokens a request carries, in any of the ways its publishers send one:
// "Authorization: Bearer <secret>", "Authorization: Basic" with the token's name and secret,
// ntfy's ?auth= (that header's value in base64), Gotify's X-Gotify-Key or ?token=. Secrets are
// compared in constant time.
namespace Tokens {

// The name of the token the request carries, or nothing when it carries none of tokens.
std::optional<QString> Carried(const Publication::Request &request,
                               const QMap<QString, QByteArray> &tokens);

// Whether the request may go on: any request where no token is set, else one that carries one.
bool Allowed(const Publication::Request &request, const QMap<QString, QByteArray> &tokens);

} // namespace Tokens
