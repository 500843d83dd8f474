#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QSaveFile;

// A new version of a file, written beside it and put in its place in one step when complete, so
// that a failed write leaves the earlier file as it was. On Unix the new version is its owner's
// alone from its first byte, on every file system, since it may hold a password; when it takes
// the file's place it gets the earlier file's mode and owner, so that whoever could read the
// file before still can, and nobody else. A version that is not committed is removed.
class ReplacementFile
{
public:
    explicit ReplacementFile(const QString &path);
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile &) = delete;
    ReplacementFile &operator=(const ReplacementFile &) = delete;

    // Each returns why it failed, or empty.
    QString open();
    QString write(const QByteArray &bytes);
    QString commit();

    // The new version's handle, once open.
    int handle() const;

private:
    QString m_path;
#ifdef Q_OS_UNIX
    QByteArray m_temporary; // the new version's name, until it takes the file's place
    int m_fd = -1;
#else
    std::unique_ptr<QSaveFile> m_file;
#endif
};
