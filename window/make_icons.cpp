// Writes Quillora's icon for the desktop at the sizes desktops look for, at build time:
//   quillora-make-icons RECEIVER.png OUTPUT_FOLDER
// gives OUTPUT_FOLDER/SIZExSIZE/apps/org.quillora.Quillora.png.
#include "ProgramIcon.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: quillora-make-icons RECEIVER.png OUTPUT_FOLDER\n");
        return 2;
    }
    const QImage receiver(QString::fromLocal8Bit(argv[1]));
    if (receiver.isNull()) {
        std::fprintf(stderr, "quillora-make-icons: can't read %s\n", argv[1]);
        return 1;
    }
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
        if (!QDir().mkpath(folder)
            || !ProgramIcon(receiver, size).save(folder + QStringLiteral("/org.quillora.Quillora.png"))) {
            std::fprintf(stderr, "quillora-make-icons: can't write the %d pixel icon\n", size);
            return 1;
        }
    }
    return 0;
}
