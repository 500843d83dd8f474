#pragma once

#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>

// Where multicast DNS is spoken (RFC 6762): one group and port for queriers and responders.
namespace Multicast {

QHostAddress group(); // 224.0.0.251
constexpr quint16 Port = 5353;

// The networks that can carry it: up, able to multicast, with an IPv4 address.
QList<QNetworkInterface> networks();

} // namespace Multicast
