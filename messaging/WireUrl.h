#pragma once

#include "HttpExchange.h"

#include <QByteArray>
#include <QString>

#include <variant>

// The message URL as bytes that may stand in an HTTP request line. Characters that would break
// the request or change what the receiver reads are percent-encoded (non-ASCII as UTF-8):
// controls, space, non-ASCII, " < > \ ^ ` { | }, '#' (it would cut the message short), '+'
// (the receiver reads it as a space), a '%' that starts no escape, and in the query an '&' that
// can't start a key (the receiver would cut the text there: "Tea & cake", "R&B"). Everything
// else, the query's own & = ? / : @, an '&' before "name=" and escapes the user typed, goes out
// as typed.
QByteArray EncodeUrlForWire(const QString &url);

// The GET request for a message URL as typed, or why no request can go to that address. A
// "user:password@" in front of the host becomes an HTTP Basic login.
std::variant<HttpRequest, QString> RequestForUrl(const QString &url);

// What is wrong with an address as typed (without the spaces around it), in words, or empty when
// nothing is: a space, a missing host, a port outside 1 to 65535, a character no host name holds.
QString AddressProblem(const QString &address);
