#include "WakeOnLan.h"

#include <QRegularExpression>

std::optional<QByteArray> ParseHardwareAddress(QStringView typed)
{
    static const QRegularExpression form(
        QStringLiteral("^[0-9A-Fa-f]{2}([:-])[0-9A-Fa-f]{2}(\\1[0-9A-Fa-f]{2}){4}$"));
    const QString text = typed.trimmed().toString();
    if (!form.match(text).hasMatch())
        return std::nullopt;
    return QByteArray::fromHex(text.toLatin1().replace(':', "").replace('-', ""));
}

bool IsWakeable(const QByteArray &hardwareAddress)
{
    return hardwareAddress.size() == 6 && (static_cast<uchar>(hardwareAddress[0]) & 1) == 0
           && hardwareAddress.count('\0') != 6;
}

QString FormatHardwareAddress(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(':').toUpper());
}

QByteArray MagicPacket(const QByteArray &hardwareAddress)
{
    return QByteArray(6, '\xff') + hardwareAddress.repeated(16);
}

QList<QHostAddress> WakeTargets(const QHostAddress &receiver,
                                const QList<QNetworkAddressEntry> &networks)
{
    QList<QHostAddress> targets;
    if (receiver.protocol() != QAbstractSocket::IPv4Protocol)
        return targets;
    for (const QNetworkAddressEntry &network : networks)
        if (network.ip().protocol() == QAbstractSocket::IPv4Protocol
            && !network.broadcast().isNull()
            && receiver.isInSubnet(network.ip(), network.prefixLength())) {
            targets += network.broadcast();
            break;
        }
    targets += receiver;
    return targets;
}
