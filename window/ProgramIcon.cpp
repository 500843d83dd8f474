#include "ProgramIcon.h"

#include <QPainter>

QImage ProgramIcon(const QImage &receiver, int size)
{
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    const QImage scaled
        = receiver.scaled(size,
                          size,
                          Qt::KeepAspectRatio,
                          size < 32 ? Qt::FastTransformation : Qt::SmoothTransformation);
    QPainter painter(&icon);
    painter.drawImage((size - scaled.width()) / 2, (size - scaled.height()) / 2, scaled);
    return icon;
}
