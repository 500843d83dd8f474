#include "SettingsPlace.h"
#include "Module1.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {

const QString FileName = QStringLiteral("Tavrel.INI");

} // namespace

SettingsPlace::SettingsPlace(const QString &besideProgram, const QString &perUser)
    : m_besideProgram(besideProgram)
    , m_perUser(perUser)
{}

SettingsPlace SettingsPlace::forProgramIn(const QString &programFolder,
                                          const QString &userFolder,
                                          bool programFolderWritable)
{
    const QString beside = programFolder + QDir::separator() + FileName;
    if (programFolderWritable || userFolder.isEmpty())
        return {beside};
    return {beside, QDir::toNativeSeparators(userFolder + QStringLiteral("/Quillora/") + FileName)};
}

SettingsPlace SettingsPlace::ofThisProgram()
{
    const QString programFolder = QCoreApplication::applicationDirPath();
#ifdef Q_OS_WIN
    const QString userFolder = qEnvironmentVariable("APPDATA");
#else
    const QString userFolder
        = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
#endif
    const bool installed = QDir(programFolder) == QDir(QStringLiteral(QUILLORA_INSTALL_BINDIR));
    return forProgramIn(programFolder, userFolder, !installed && CanWriteIn(programFolder));
}

QString SettingsPlace::readPath() const
{
    return isPerUser() && QFileInfo::exists(m_perUser) ? m_perUser : m_besideProgram;
}

QString SettingsPlace::writePath() const
{
    return isPerUser() ? m_perUser : m_besideProgram;
}

bool CanWriteIn(const QString &folder)
{
    QTemporaryFile probe(folder + QStringLiteral("/.quillora-XXXXXX"));
    return probe.open();
}
