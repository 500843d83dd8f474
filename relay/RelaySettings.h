#pragma once

#include "ReceiverAddress.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QString>

#include <chrono>
#include <optional>
#include <variant>

// Where the relay meets the house's MQTT broker, and the topics it uses there.
struct MqttSettings
{
    QString host;
    quint16 port = 1883;
    bool tls = false;       // mqtts://
    QByteArray fingerprint; // SHA-256 of the broker's certificate, trusted beyond the system's
    QString user;
    QByteArray password;
    QString clientId; // empty: quillora-relay-<host name>
    QString prefix = QStringLiteral("quillora");
    QString discovery = QStringLiteral("homeassistant"); // empty: nothing announced

    QString clientIdOr(const QString &hostName) const
    {
        return clientId.isEmpty() ? QStringLiteral("quillora-relay-") + hostName : clientId;
    }
};

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
    std::optional<MqttSettings> mqtt;         // [MQTT], where it names a broker

    bool listensOnlyHere() const { return listenAddress.isLoopback(); }
};

// The settings in content, or what is wrong with the first setting that is.
std::variant<RelaySettings, QString> ReadRelaySettings(const QByteArray &content);
