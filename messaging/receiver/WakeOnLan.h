#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkAddressEntry>
#include <QString>
#include <QStringView>

#include <optional>

// Waking a receiver in deep standby, where only its network card listens: a magic packet for its
// hardware address, to UDP port 9.
constexpr quint16 WakeOnLanPort = 9;

// The six bytes of a hardware address as typed or kept: six hex pairs joined by ':' or '-'.
std::optional<QByteArray> ParseHardwareAddress(QStringView typed);

// Whether a magic packet for these six bytes wakes one network card: a unicast address (the
// lowest bit of the first byte clear; all FF is broadcast) and not all zeros.
bool IsWakeable(const QByteArray &hardwareAddress);

// The address as it is kept and shown: 00:09:34:AB:CD:EF.
QString FormatHardwareAddress(const QByteArray &bytes);

// Six bytes of FF, then the hardware address sixteen times.
QByteArray MagicPacket(const QByteArray &hardwareAddress);

// Where the packet goes, and nowhere else: the broadcast address of the network (of these) that
// holds the receiver, and the receiver's own address.
QList<QHostAddress> WakeTargets(const QHostAddress &receiver,
                                const QList<QNetworkAddressEntry> &networks);
