#include "Module1.h"
#include "ProfileFile.h"
#include "ReplacementFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QString notRegular()
{
    return QCoreApplication::translate("Module1", "not a regular file");
}

// Opens the settings file for reading if it is a regular file (or a link to one). Anything else
// (a pipe, a device, a socket, a folder) is refused without being waited on: opening a pipe for
// reading would block until somebody writes to it. Returns why it can't be read, or empty.
QString openForReading(QFile &file)
{
#ifdef Q_OS_UNIX
    const int fd
        = ::open(QFile::encodeName(file.fileName()).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return notRegular();
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return file.errorString();
    }
    return {};
#else
    if (QFileInfo::exists(file.fileName()) && !QFileInfo(file.fileName()).isFile())
        return notRegular();
    return file.open(QIODevice::ReadOnly) ? QString() : file.errorString();
#endif
}

} // namespace

namespace Module1 {

QString ReadIniEntry(const QString &iniPath, const QString &section, const QString &key)
{
    QFile file(iniPath);
    if (!openForReading(file).isEmpty())
        return {};
    return ProfileFile::readEntry(file.readAll(), section, key).trimmed();
}

QString SettingsFileUnreadable(const QString &iniPath)
{
    QFile file(iniPath);
    return openForReading(file);
}

QString WriteIniEntry(const QString &iniPath,
                      const QString &section,
                      const QString &key,
                      const QString &value)
{
    return WriteIniEntries(iniPath, section, {{key, value}});
}

QString WriteIniEntries(const QString &iniPath,
                        const QString &section,
                        const QList<std::pair<QString, QString>> &entries,
                        const QString &startFrom)
{
    // Whatever is in the file must survive the write, so a file that is there but can't be read
    // is not replaced, and neither is anything in its place that is not a regular file.
    QByteArray content;
    if (const QFileInfo info(iniPath); info.isFile() && !info.isWritable())
        return QCoreApplication::translate("Module1", "the file is read-only");
    const bool exists = QFileInfo::exists(iniPath);
    if (exists || (!startFrom.isEmpty() && QFileInfo(startFrom).isFile())) {
        QFile current(exists ? iniPath : startFrom);
        const QString why = openForReading(current);
        if (exists && !why.isEmpty())
            return why;
        if (why.isEmpty()) {
            content = current.readAll();
            if (exists && current.error() != QFileDevice::NoError)
                return current.errorString();
        }
    }
    const auto written = ProfileFile::writeEntries(content, section, entries);
    if (const QString *why = std::get_if<QString>(&written))
        return *why;
    const QByteArray &updated = std::get<QByteArray>(written);
    ReplacementFile file(iniPath);
    QString why = file.open();
    if (why.isEmpty())
        why = file.write(updated);
    return why.isEmpty() ? file.commit() : why;
}

bool OthersCanRead(const QString &iniPath)
{
#ifdef Q_OS_UNIX
    struct stat status = {};
    return ::stat(QFile::encodeName(iniPath).constData(), &status) == 0
           && (status.st_mode & (S_IRGRP | S_IROTH)) != 0;
#else
    Q_UNUSED(iniPath);
    return false;
#endif
}

bool MakePrivateFolder(const QString &folder)
{
    const QString path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    if (QFileInfo(path).isDir())
        return true;
    const QString parent = QFileInfo(path).path();
    if (parent == path || !MakePrivateFolder(parent))
        return false;
#ifdef Q_OS_UNIX
    return ::mkdir(QFile::encodeName(path).constData(), S_IRWXU) == 0 || QFileInfo(path).isDir();
#else
    return QDir().mkdir(path) || QFileInfo(path).isDir();
#endif
}

} // namespace Module1
