#include "RelaySettings.h"
#include "Fingerprint.h"
#include "ProfileFile.h"
#include "PublishFields.h"
#include "WakeOnLan.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <optional>

namespace {

using Entry = ProfileFile::Entry;

// The sections of the relay's file: as they are looked up (folded), and as they are written.
const QStringList Sections{QStringLiteral("relay"),
                           QStringLiteral("receivers"),
                           QStringLiteral("tokens"),
                           QStringLiteral("wake"),
                           QStringLiteral("certificates"),
                           QStringLiteral("mqtt")};
const QStringList SectionsWritten{QStringLiteral("Relay"),
                                  QStringLiteral("Receivers"),
                                  QStringLiteral("Tokens"),
                                  QStringLiteral("Wake"),
                                  QStringLiteral("Certificates"),
                                  QStringLiteral("MQTT")};

QString problem(const Entry &entry, const QString &section, const QString &what)
{
    return QStringLiteral("line %1, %2 in [%3]: %4")
        .arg(entry.line)
        .arg(entry.key, SectionsWritten.value(Sections.indexOf(section)), what);
}

// A whole number from min to max, or nothing.
std::optional<int> number(const QString &text, int min, int max)
{
    bool isNumber = false;
    const int value = text.trimmed().toInt(&isNumber);
    if (!isNumber || value < min || value > max || text.trimmed().startsWith(QLatin1Char('+')))
        return std::nullopt;
    return value;
}

// address:port, the address an IP address ([…] around IPv6).
bool readListen(const QString &text, RelaySettings &settings)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString host = text.left(colon).trimmed();
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    const auto port = number(text.mid(colon + 1), 1, 65535);
    const QHostAddress address(host);
    if (address.isNull() || !port)
        return false;
    settings.listenAddress = address;
    settings.listenPort = quint16(*port);
    return true;
}

// One setting of [Relay]: empty when taken, else what to write.
QString readRelaySetting(const QString &key, const QString &value, RelaySettings &settings)
{
    const auto seconds = [&value](int max) -> std::optional<std::chrono::seconds> {
        const auto n = number(value, 1, max);
        return n ? std::optional(std::chrono::seconds(*n)) : std::nullopt;
    };
    if (key == QLatin1String("listen"))
        return readListen(value, settings)
                   ? QString()
                   : QStringLiteral("write an IP address and a port, as 127.0.0.1:8093");
    if (key == QLatin1String("store")) {
        settings.store = value.trimmed();
        return settings.store.isEmpty() ? QStringLiteral("write a file name, as relay.sqlite")
                                        : QString();
    }
    if (key == QLatin1String("lifetime")) {
        const auto lifetime = PublishFields::Lifetime(value);
        settings.lifetime = lifetime.value_or(settings.lifetime);
        return lifetime ? QString()
                        : QStringLiteral("write a duration up to a year, as 90s, 10m, 12h or 1d");
    }
    if (key == QLatin1String("timeout")) {
        const auto timeout = seconds(86400);
        settings.timeout = timeout.value_or(settings.timeout);
        return timeout ? QString() : QStringLiteral("write whole seconds from 1 to 86400");
    }
    if (key == QLatin1String("standbycheck")) {
        const auto check = seconds(3600);
        settings.standbyCheck = check.value_or(settings.standbyCheck);
        return check ? QString() : QStringLiteral("write whole seconds from 1 to 3600");
    }
    const auto whole = [&value](int min, int max, int &into) {
        const auto n = number(value, min, max);
        into = n.value_or(into);
        return n ? QString()
                 : QStringLiteral("write a whole number from %1 to %2").arg(min).arg(max);
    };
    if (key == QLatin1String("wakeat"))
        return whole(1, 6, settings.wakeAt);
    if (key == QLatin1String("maxwaiting"))
        return whole(1, 100000, settings.maxWaiting);
    if (key == QLatin1String("rate"))
        return whole(0, 100000, settings.rate);
    return QStringLiteral("no such setting: the settings are Listen, Store, Lifetime, Timeout, "
                          "StandbyCheck, WakeAt, MaxWaiting and Rate");
}

// mqtt://host:port, mqtts://host:port or host:port; the port may be left out after a scheme.
bool readBroker(const QString &text, MqttSettings &mqtt)
{
    QString rest = text.trimmed();
    mqtt.tls = rest.startsWith(QLatin1String("mqtts://"), Qt::CaseInsensitive);
    const bool scheme = mqtt.tls || rest.startsWith(QLatin1String("mqtt://"), Qt::CaseInsensitive);
    if (scheme)
        rest = rest.mid(rest.indexOf(QLatin1String("//")) + 2);
    mqtt.port = mqtt.tls ? 8883 : 1883;
    const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
    const bool bracketed = rest.startsWith(QLatin1Char('['));
    const bool hasPort = colon > 0 && (!bracketed || rest.at(colon - 1) == QLatin1Char(']'));
    if (!hasPort && !scheme)
        return false;
    if (hasPort) {
        const auto port = number(rest.mid(colon + 1), 1, 65535);
        if (!port)
            return false;
        mqtt.port = quint16(*port);
        rest = rest.left(colon);
    }
    if (bracketed && rest.endsWith(QLatin1Char(']')))
        rest = rest.mid(1, rest.size() - 2);
    mqtt.host = rest;
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9._:-]{1,253}$"));
    return name.match(rest).hasMatch();
}

// A topic's first levels: no wildcards, no empty level.
bool isTopicPrefix(const QString &text)
{
    return !text.isEmpty() && text.size() <= 128 && !text.contains(QLatin1Char('+'))
           && !text.contains(QLatin1Char('#')) && !text.contains(QChar(0))
           && !text.split(QLatin1Char('/')).contains(QString());
}

// One setting of [MQTT]: empty when taken, else what to write.
QString readMqttSetting(const QString &key, const QString &value, MqttSettings &mqtt)
{
    const QString trimmed = value.trimmed();
    if (key == QLatin1String("broker"))
        return readBroker(value, mqtt) ? QString()
                                       : QStringLiteral("write host:port, as 192.168.1.2:1883, or "
                                                        "mqtts://host:port for TLS");
    if (key == QLatin1String("fingerprint")) {
        const auto fingerprint = ParseFingerprint(trimmed);
        mqtt.fingerprint = fingerprint.value_or(QByteArray());
        return fingerprint ? QString()
                           : QStringLiteral("write the SHA-256 fingerprint of the broker's "
                                            "certificate, as openssl x509 -fingerprint -sha256 "
                                            "prints it");
    }
    if (key == QLatin1String("user")) {
        mqtt.user = trimmed;
        return {};
    }
    if (key == QLatin1String("password")) {
        mqtt.password = trimmed.toUtf8();
        return {};
    }
    if (key == QLatin1String("clientid")) {
        static const QRegularExpression id(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
        mqtt.clientId = trimmed;
        return id.match(trimmed).hasMatch()
                   ? QString()
                   : QStringLiteral("write 1 to 64 of A-Z, a-z, 0-9, '.', '-' and '_'");
    }
    if (key == QLatin1String("prefix") || key == QLatin1String("discovery")) {
        (key == QLatin1String("prefix") ? mqtt.prefix : mqtt.discovery) = trimmed;
        if (key == QLatin1String("discovery") && trimmed.isEmpty())
            return {}; // nothing announced
        return isTopicPrefix(trimmed) ? QString()
                                      : QStringLiteral("write topic levels without + or #, as "
                                                       "quillora or home/tv");
    }
    return QStringLiteral("no such setting: the settings are Broker, Fingerprint, User, "
                          "Password, ClientId, Prefix and Discovery");
}

// One entry of a section other than [Relay]: empty when taken, else what to write.
QString readEntry(const QString &section, const Entry &entry, RelaySettings &settings)
{
    const QString value = entry.value.trimmed();
    if (section == QLatin1String("receivers")) {
        if (!PublishFields::IsTopic(entry.key)
            || entry.key.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0)
            return QStringLiteral("a receiver's name is 1 to 64 of A-Z, a-z, 0-9, - and _, and "
                                  "not \"all\"");
        const auto address = ParseReceiverAddress(value);
        if (const QString *why = std::get_if<QString>(&address))
            return *why;
        settings.receivers.insert(entry.key, std::get<ReceiverAddress>(address));
        return {};
    }
    if (section == QLatin1String("tokens")) {
        if (value.size() < 8)
            return QStringLiteral("write a secret of at least 8 characters");
        settings.tokens.insert(entry.key, value.toUtf8());
        return {};
    }
    if (section == QLatin1String("wake")) {
        const auto address = ParseHardwareAddress(value);
        if (!address || !IsWakeable(*address))
            return QStringLiteral("write the receiver's own hardware address, as "
                                  "00:09:34:AB:CD:EF");
        settings.hardwareAddresses.insert(entry.key, FormatHardwareAddress(*address));
        return {};
    }
    if (!ParseFingerprint(value)) // [Certificates]
        return QStringLiteral("write a SHA-256 fingerprint, as Quillora keeps it in Tavrel.INI");
    settings.fingerprints.insert(entry.key, value);
    return {};
}

} // namespace

std::variant<RelaySettings, QString> ReadRelaySettings(const QByteArray &content)
{
    RelaySettings settings;
    // In the order of the file, so that the first problem named is the first a reader meets.
    const ProfileFile::Entries entries = ProfileFile::readEntries(content);
    QList<std::pair<QString, Entry>> ordered;
    for (auto entry = entries.cbegin(); entry != entries.cend(); ++entry)
        ordered.append({entry.key().first, entry.value()});
    std::sort(ordered.begin(), ordered.end(), [](const auto &a, const auto &b) {
        return a.second.line < b.second.line;
    });
    for (const auto &[section, entry] : ordered) {
        if (!Sections.contains(section))
            continue; // a section of its own, as Tavrel.INI may hold: not the relay's
        QString why;
        if (section == QLatin1String("relay")) {
            why = readRelaySetting(entry.key.toLower(), entry.value, settings);
        } else if (section == QLatin1String("mqtt")) {
            if (!settings.mqtt)
                settings.mqtt.emplace();
            why = readMqttSetting(entry.key.toLower(), entry.value, *settings.mqtt);
        } else {
            why = readEntry(section, entry, settings);
        }
        if (!why.isEmpty())
            return problem(entry, section, why);
    }
    if (settings.mqtt && settings.mqtt->host.isEmpty())
        return QStringLiteral("[MQTT] names no Broker: write Broker=host:port, or leave the "
                              "section out");
    if (!settings.listensOnlyHere() && settings.tokens.isEmpty())
        return QStringLiteral("listening on the network needs at least one token in [Tokens]");
    return settings;
}
