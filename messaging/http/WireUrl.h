#pragma once

#include <QByteArray>
#include <QString>

// The message URL as bytes that may stand in an HTTP request line. Characters that would break
// the request or change what the receiver reads are percent-encoded (non-ASCII as UTF-8):
// controls, space, non-ASCII, " < > \ ^ ` { | }, '#' (it would cut the message short), '+'
// (the receiver reads it as a space), a '%' that starts no escape, and in the query an '&' that
// can't start a key (the receiver would cut the text there: "Tea & cake", "R&B"). Everything
// else, the query's own & = ? / : @, an '&' before "name=" and escapes the user typed, goes out
// as typed.
QByteArray EncodeUrlForWire(const QString &url);
