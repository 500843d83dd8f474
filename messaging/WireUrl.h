#pragma once

#include <QByteArray>
#include <QString>

// The message URL as bytes that may stand in an HTTP request line. Characters that would break
// the request or change what the receiver reads are percent-encoded (non-ASCII as UTF-8):
// controls, space, non-ASCII, " < > \ ^ ` { | }, '#' (it would cut the message short), '+'
// (the receiver reads it as a space) and a '%' that starts no escape. Everything else, the
// query's own & = ? / : @ and escapes the user typed, goes out as typed.
QByteArray EncodeUrlForWire(const QString &url);
