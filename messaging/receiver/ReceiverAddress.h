#pragma once

#include "CertificateTrust.h"

#include <QByteArray>
#include <QString>

#include <variant>

// A receiver's address as typed, [https://][login@]host[:port], read once into the parts that
// every request is built from. Nothing is ever composed into a URL and read again. The host has
// one form, used for the connection, the Host header, the trust key and every message: an IP
// address, an ASCII name as typed, or an international name in its ASCII form.
struct ReceiverAddress
{
    bool tls = false;      // typed with https:// in front: every request goes over TLS
    bool hasLogin = false; // typed with a login in front of the host
    QByteArray user;       // the login name's bytes, %XX escapes decoded
    QByteArray password;   // the password's bytes, %XX escapes decoded
    QString host;          // the name or IP address to connect to, in lower case, and nothing else
    QString zone;          // an IPv6 link-local address's network, as typed after its '%'
    quint16 port = 80;     // as typed, else 443 with TLS and 80 without
    QByteArray hostHeader; // host[:port], for the Host header (never with the zone)
    QString hostAndPort;   // the same, for messages

    // What messages may show of the address: [https://]host[:port], never the login.
    QString shown() const;
    // [https://]host:port in lower case, the port always given: the receiver as the messages
    // it takes know it.
    QString origin() const;
    // host:port in lower case, the port always given and an IPv6 address without brackets:
    // where trust in a certificate is kept.
    QString receiverKey() const { return ReceiverKey(host, port); }
    // "Basic …" for the Authorization header, or empty without a login.
    QByteArray authorization() const;
};

// The parts of an address as typed (spaces around it are ignored), or why no message can go
// there. The login ends at the last '@' and the name at its first ':'; in it, %XX escapes stand
// for their bytes and every other character is taken as typed.
std::variant<ReceiverAddress, QString> ParseReceiverAddress(const QString &typed);
