#include "Module1.h"
#include "ProfileFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace Module1 {

QString SettingsFilePath()
{
    return QCoreApplication::applicationDirPath() + QDir::separator()
           + QStringLiteral("Tavrel.INI");
}

QString ReadIniEntry(const QString &iniPath, const QString &section, const QString &key)
{
    QFile file(iniPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ProfileFile::readEntry(file.readAll(), section, key).trimmed();
}

QString WriteIniEntry(const QString &iniPath,
                      const QString &section,
                      const QString &key,
                      const QString &value)
{
    // Whatever is in the file must survive the write, so a file that is there but can't be read
    // is not replaced.
    QFile current(iniPath);
    QByteArray content;
    if (current.exists()) {
        if (!current.open(QIODevice::ReadOnly))
            return current.errorString();
        content = current.readAll();
        if (current.error() != QFileDevice::NoError)
            return current.errorString();
        current.close();
    }

    const QByteArray updated = ProfileFile::writeEntry(content, section, key, value);
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
