#pragma once

#include <QByteArray>
#include <QString>

#include <variant>

// A receiver's address as typed, [https://][login@]host[:port], read once into the parts that
// every request is built from. Nothing is ever composed into a URL and read again.
struct ReceiverAddress
{
    bool tls = false;         // typed with https:// in front: every request goes over TLS
    bool hasLogin = false;    // typed with a login in front of the host
    QString user;             // the login name, %XX escapes decoded
    QString password;         // the password, %XX escapes decoded
    QString host;             // the name or IP address to connect to, and nothing else
    quint16 port = 80;        // as typed, else 443 with TLS and 80 without
    QByteArray hostHeader;    // host[:port] as typed, for the Host header
    QString hostAndPortTyped; // host[:port] as typed, for messages

    // What messages may show of the address: [https://]host[:port], never the login.
    QString shown() const;
    // host:port in lower case, the port always given and an IPv6 address without brackets:
    // where trust in a certificate is kept.
    QString receiverKey() const;
    // "Basic …" for the Authorization header, or empty without a login.
    QByteArray authorization() const;
};

// The parts of an address as typed (spaces around it are ignored), or why no message can go
// there. The login ends at the last '@' and the name at its first ':'; in it, %XX escapes are
// decoded and every other character is taken as typed.
std::variant<ReceiverAddress, QString> ParseReceiverAddress(const QString &typed);
