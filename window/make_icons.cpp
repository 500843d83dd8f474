// Writes Quillora's icon at the sizes desktops look for, at build time:
//   quillora-make-icons RECEIVER.png OUTPUT_FOLDER ICO_FILE
// gives OUTPUT_FOLDER/SIZExSIZE/apps/org.quillora.Quillora.png, and ICO_FILE with the sizes
// Windows shows, for its programs, shortcuts and installer.
#include "ProgramIcon.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QtEndian>

#include <cstdio>

namespace {

// An icon file of PNG images, as Windows takes since Vista: a directory of the images, then
// each image as it is.
QByteArray iconFile(const QList<QImage> &images)
{
    QByteArray directory;
    QByteArray data;
    const auto append16 = [](QByteArray &bytes, int value) {
        bytes.append(char(value & 0xff)).append(char((value >> 8) & 0xff));
    };
    const auto append32 = [&append16](QByteArray &bytes, qint64 value) {
        append16(bytes, int(value & 0xffff));
        append16(bytes, int((value >> 16) & 0xffff));
    };
    append16(directory, 0); // reserved
    append16(directory, 1); // an icon
    append16(directory, int(images.size()));
    const qint64 start = 6 + 16 * images.size();
    for (const QImage &image : images) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        directory.append(char(image.width() & 0xff)).append(char(image.height() & 0xff)); // 256: 0
        directory.append(char(0)).append(char(0)); // no palette, reserved
        append16(directory, 1);                    // planes
        append16(directory, 32);                   // bits per pixel
        append32(directory, png.size());
        append32(directory, start + data.size());
        data += png;
    }
    return directory + data;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: quillora-make-icons RECEIVER.png OUTPUT_FOLDER ICO_FILE\n");
        return 2;
    }
    const QImage receiver(QString::fromLocal8Bit(argv[1]));
    if (receiver.isNull()) {
        std::fprintf(stderr, "quillora-make-icons: can't read %s\n", argv[1]);
        return 1;
    }
    QList<QImage> windows;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QString folder
            = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
        const QImage icon = ProgramIcon(receiver, size);
        if (!QDir().mkpath(folder)
            || !icon.save(folder + QStringLiteral("/org.quillora.Quillora.png"))) {
            std::fprintf(stderr, "quillora-make-icons: can't write the %d pixel icon\n", size);
            return 1;
        }
        if (size != 64 && size != 128)
            windows += icon;
    }
    QFile ico(QString::fromLocal8Bit(argv[3]));
    const QByteArray bytes = iconFile(windows);
    if (!ico.open(QIODevice::WriteOnly) || ico.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "quillora-make-icons: can't write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
