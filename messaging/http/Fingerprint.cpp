#include "Fingerprint.h"

#include <QRegularExpression>

std::optional<QByteArray> ParseFingerprint(QStringView typed)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*([0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){31}|[0-9A-Fa-f]{64})\\s*$"));
    if (!form.match(typed.toString()).hasMatch())
        return std::nullopt;
    return QByteArray::fromHex(typed.toLatin1().replace(':', ""));
}
