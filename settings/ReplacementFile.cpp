#include "ReplacementFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <utility>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef Q_OS_UNIX

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// A link is followed, so that the file it points at is the one replaced, as the user meant.
QString replacedPath(const QString &path)
{
    const QFileInfo info(path);
    return info.isSymLink() ? info.symLinkTarget() : path;
}

} // namespace

ReplacementFile::ReplacementFile(const QString &path)
    : m_path(replacedPath(path))
{}

ReplacementFile::~ReplacementFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_temporary.isEmpty())
        ::unlink(m_temporary.constData());
}

// mkstemp makes the file with mode 0600 whatever the umask, and only where no file was.
QString ReplacementFile::open()
{
    const QFileInfo target(m_path);
    QByteArray name = QFile::encodeName(target.absolutePath() + QStringLiteral("/.")
                                        + target.fileName() + QStringLiteral(".XXXXXX"));
    m_fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (m_fd < 0)
        return systemError();
    m_temporary = name;
    return {};
}

// Unbuffered, so that a write the disk cuts short is seen here rather than lost in a flush that
// reports the part it managed as success; writing on makes the system say why.
QString ReplacementFile::write(const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t count = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return count < 0 ? systemError() : QStringLiteral("nothing could be written");
        done += count;
    }
    return {};
}

QString ReplacementFile::commit()
{
    struct stat before = {};
    if (::stat(QFile::encodeName(m_path).constData(), &before) == 0) {
        if (::fchmod(m_fd, before.st_mode & 07777) != 0)
            return systemError();
        if ((before.st_uid != ::geteuid() || before.st_gid != ::getegid())
            && ::fchown(m_fd, before.st_uid, before.st_gid) != 0)
            return QCoreApplication::translate("Module1",
                                               "the file belongs to another user or group, which "
                                               "a save can't keep");
    }
    if (::fsync(m_fd) != 0 || ::close(std::exchange(m_fd, -1)) != 0)
        return systemError();
    if (::rename(m_temporary.constData(), QFile::encodeName(m_path).constData()) != 0)
        return systemError();
    m_temporary.clear();
    return {};
}

int ReplacementFile::handle() const
{
    return m_fd;
}

#else

ReplacementFile::ReplacementFile(const QString &path)
    : m_path(path)
    , m_file(std::make_unique<QSaveFile>(path))
{}

ReplacementFile::~ReplacementFile() = default;

QString ReplacementFile::open()
{
    return m_file->open(QIODevice::WriteOnly | QIODevice::Unbuffered) ? QString()
                                                                      : m_file->errorString();
}

QString ReplacementFile::write(const QByteArray &bytes)
{
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 count = m_file->write(bytes.constData() + done, bytes.size() - done);
        if (count <= 0)
            return m_file->errorString();
        done += count;
    }
    return {};
}

QString ReplacementFile::commit()
{
    return m_file->commit() ? QString() : m_file->errorString();
}

int ReplacementFile::handle() const
{
    return int(m_file->handle());
}

#endif
