#include "Multicast.h"

#include <algorithm>

namespace Multicast {

QHostAddress group()
{
    return QHostAddress(QStringLiteral("224.0.0.251"));
}

QList<QNetworkInterface> networks()
{
    QList<QNetworkInterface> found;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &network : interfaces) {
        const auto flags = network.flags();
        const auto entries = network.addressEntries();
        if (flags.testFlag(QNetworkInterface::IsUp)
            && flags.testFlag(QNetworkInterface::CanMulticast)
            && std::any_of(entries.cbegin(), entries.cend(), [](const QNetworkAddressEntry &entry) {
                   return entry.ip().protocol() == QAbstractSocket::IPv4Protocol;
               }))
            found += network;
    }
    return found;
}

} // namespace Multicast
