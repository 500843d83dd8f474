#include "SettingsCommands.h"
#include "Module1.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

const QString Section = QStringLiteral("Dreambox");

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

QStringList SaveSettings(const SettingsPlace &place, const QString &address, const QString &timeout)
{
    const QString iniPath = place.writePath();
    // The user's own settings folder is made on the first save; any other folder must be there.
    if (place.isPerUser() && (!address.isEmpty() || !timeout.isEmpty()))
        QDir().mkpath(QFileInfo(iniPath).absolutePath());
    QStringList messages;
    bool failed = false;
    const auto store = [&](const QString &key, const QString &value) {
        if (failed)
            return;
        const QString reason = Module1::WriteIniEntry(iniPath, Section, key, value);
        if (reason.isEmpty())
            return;
        failed = true;
        messages += tr("Settings not saved: ")
                    + QDir::toNativeSeparators(QFileInfo(iniPath).absoluteFilePath())
                    + QStringLiteral(": ") + reason;
    };

    if (address.isEmpty())
        messages += tr("Ip to DreamBox is missing, Try again");
    else
        store(QStringLiteral("IP"), address);

    if (timeout.isEmpty())
        messages += tr("No Timeout value set, Try again");
    else
        store(QStringLiteral("Timeout"), timeout);
    return messages;
}
