#include "RelaySettings.h"
#include "Fingerprint.h"
#include "ProfileFile.h"
#include "PublishFields.h"
#include "WakeOnLan.h"

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
                           QStringLiteral("certificates")};
const QStringList SectionsWritten{QStringLiteral("Relay"),
                                  QStringLiteral("Receivers"),
                                  QStringLiteral("Tokens"),
                                  QStringLiteral("Wake"),
                                  QStringLiteral("Certificates")};

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
        const QString why = section == QLatin1String("relay")
                                ? readRelaySetting(entry.key.toLower(), entry.value, settings)
                                : readEntry(section, entry, settings);
        if (!why.isEmpty())
            return problem(entry, section, why);
    }
    if (!settings.listensOnlyHere() && settings.tokens.isEmpty())
        return QStringLiteral("listening on the network needs at least one token in [Tokens]");
    return settings;
}
