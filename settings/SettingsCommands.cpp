#include "SettingsCommands.h"
#include "Module1.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

const QString Section = QStringLiteral("Dreambox");
const QString Certificates = QStringLiteral("Certificates");

QString tr(const char *text)
{
    return QCoreApplication::translate("SettingsCommands", text);
}

} // namespace

ReceiverSettings LoadSettings(const QString &iniPath)
{
    return {Module1::ReadIniEntry(iniPath, Section, QStringLiteral("IP")),
            Module1::ReadIniEntry(iniPath, Section, QStringLiteral("Timeout")),
            Module1::ReadIniEntry(iniPath, Section, QStringLiteral("Version"))};
}

namespace {

// Stores the entries in the file Save writes, in one replacement; the user's own folder is made
// on the first save, and the user's own file starts from the administrator's defaults. Returns
// why nothing was stored, or empty.
QString store(const SettingsPlace &place,
              const QString &section,
              const QList<std::pair<QString, QString>> &entries)
{
    const QString iniPath = place.writePath();
    if (place.isPerUser())
        Module1::MakePrivateFolder(QFileInfo(iniPath).absolutePath());
    return Module1::WriteIniEntries(iniPath, section, entries, place.seedPath());
}

QString fileName(const SettingsPlace &place)
{
    return QDir::toNativeSeparators(QFileInfo(place.writePath()).absoluteFilePath());
}

} // namespace

QStringList SaveSettings(const SettingsPlace &place, const QString &address, const QString &timeout)
{
    QStringList messages;
    QList<std::pair<QString, QString>> entries;
    if (address.isEmpty())
        messages += tr("Ip to DreamBox is missing, Try again");
    else
        entries.append({QStringLiteral("IP"), address});
    if (timeout.isEmpty())
        messages += tr("No Timeout value set, Try again");
    else
        entries.append({QStringLiteral("Timeout"), timeout});
    if (entries.isEmpty())
        return messages;
    if (const QString why = store(place, Section, entries); !why.isEmpty()) {
        const QString what = entries.size() == 2              ? tr("address and timeout")
                             : entries.first().first == u"IP" ? tr("address")
                                                              : tr("timeout");
        messages += tr("Settings not saved (%1): %2: %3").arg(what, fileName(place), why);
    }
    return messages;
}

QString TrustedFingerprint(const QString &iniPath, const QString &receiverKey)
{
    return Module1::ReadIniEntry(iniPath, Certificates, receiverKey);
}

QString KeepTrustedFingerprint(const SettingsPlace &place,
                               const QString &receiverKey,
                               const QString &fingerprint)
{
    const QString why = store(place, Certificates, {{receiverKey, fingerprint}});
    if (why.isEmpty())
        return {};
    return tr("The certificate is trusted until Quillora is closed, but it could not be kept in "
              "%1: %2")
        .arg(fileName(place), why);
}

QString KeptHardwareAddress(const QString &iniPath, const QString &receiverKey)
{
    return Module1::ReadIniEntry(iniPath, QStringLiteral("Wake"), receiverKey);
}

QString KeepHardwareAddress(const SettingsPlace &place,
                            const QString &receiverKey,
                            const QString &hardwareAddress)
{
    return store(place, QStringLiteral("Wake"), {{receiverKey, hardwareAddress}});
}
