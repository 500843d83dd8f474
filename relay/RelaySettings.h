#pragma once

#include "ReceiverAddress.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QString>

#include <chrono>
#include <variant>

// The relay's settings file (relay.ini), read from its bytes with the same reader as Tavrel.INI:
// every setting checked, and what is wrong named with its line and what to write instead.
struct RelaySettings
{
    QHostAddress listenAddress{QHostAddress::LocalHost};
    quint16 listenPort = 8093;
    QString store = QStringLiteral("relay.sqlite"); // relative to the settings file's folder
    std::chrono::seconds lifetime{12 * 3600};
    std::chrono::seconds timeout{10};
    std::chrono::seconds standbyCheck{30};
    int wakeAt = 5; // 6: never
    int maxWaiting = 1000;
    int rate = 60;                            // publishes a minute per client address; 0: no limit
    QMap<QString, ReceiverAddress> receivers; // by name, the topic that reaches it
    QMap<QString, QByteArray> tokens;         // by name: the secret
    QMap<QString, QString> hardwareAddresses; // [Wake], by receiver key, as Tavrel.INI keeps it
    QMap<QString, QString> fingerprints;      // [Certificates], by receiver key

    bool listensOnlyHere() const { return listenAddress.isLoopback(); }
};

// The settings in content, or what is wrong with the first setting that is.
std::variant<RelaySettings, QString> ReadRelaySettings(const QByteArray &content);
