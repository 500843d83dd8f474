#pragma once

#include "SettingsPlace.h"

#include <QString>
#include <QStringList>

// The receiver settings as the settings file holds them.
struct ReceiverSettings
{
    QString address; // entry "IP"
    QString timeout; // entry "Timeout"
    QString version; // entry "Version", kept in the file by whoever installed the program
};

// Reads address, timeout and version; a missing entry comes back empty.
ReceiverSettings LoadSettings(const QString &iniPath);

// Stores the address and the timeout, each only when it is not empty. Returns the messages to
// show the user, in order: a refusal for each empty field and, once, a write that failed.
QStringList
SaveSettings(const SettingsPlace &place, const QString &address, const QString &timeout);

// The certificate fingerprint the user trusted for a receiver (host:port in lower case), as the
// file keeps it in section "Certificates"; empty when none is kept.
QString TrustedFingerprint(const QString &iniPath, const QString &receiverKey);

// Keeps the fingerprint as trusted for the receiver. Returns why it could not be kept, or empty.
QString KeepTrustedFingerprint(const SettingsPlace &place,
                               const QString &receiverKey,
                               const QString &fingerprint);

// The hardware address a receiver (host:port in lower case) said it has, as the file keeps it in
// section "Wake", for waking it from deep standby; empty when none is kept.
QString KeptHardwareAddress(const QString &iniPath, const QString &receiverKey);

// Keeps the receiver's hardware address. Returns why it could not be kept, or empty.
QString KeepHardwareAddress(const SettingsPlace &place,
                            const QString &receiverKey,
                            const QString &hardwareAddress);
