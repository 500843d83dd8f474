#include "Module1.h"
#include "ProfileFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

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
    // Whatever is in the file must survive the write, so a file that is there but can't be read
    // is not replaced, and neither is anything in its place that is not a regular file.
    QFile current(iniPath);
    QByteArray content;
    if (const QFileInfo info(iniPath); info.isFile() && !info.isWritable())
        return QCoreApplication::translate("Module1", "the file is read-only");
    if (QFileInfo::exists(iniPath)) {
        if (const QString why = openForReading(current); !why.isEmpty())
            return why;
        content = current.readAll();
        if (current.error() != QFileDevice::NoError)
            return current.errorString();
        current.close();
    }
    const auto written = ProfileFile::writeEntry(content, section, key, value);
    if (const QString *why = std::get_if<QString>(&written))
        return *why;
    const QByteArray &updated = std::get<QByteArray>(written);
    // Unbuffered, so that a write the disk cuts short is seen here rather than lost in a flush
    // that reports the part it managed as success; writing on makes the system say why.
    QSaveFile file(iniPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file.errorString();
    for (qint64 done = 0; done < updated.size();) {
        const qint64 written = file.write(updated.constData() + done, updated.size() - done);
        if (written <= 0)
            return file.errorString();
        done += written;
    }
    return file.commit() ? QString() : file.errorString();
}

} // namespace Module1
