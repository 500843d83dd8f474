#pragma once

#include "Fingerprint.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

// Where trust in a receiver's certificate is kept: host:port in lower case, the port always
// given and an IPv6 address without brackets (a line that starts with '[' opens a section).
inline QString ReceiverKey(const QString &host, quint16 port)
{
    return (host + u':' + QString::number(port)).toLower();
}

// Which certificates a receiver may show beyond those the system's trust store accepts for its
// name: receivers make their own certificates, so the user decides.
struct CertificateTrust
{
    // The fingerprint (as kept) trusted for a receiver, by host:port in lower case; empty when
    // none is. Asked at every connection, so that what was trusted meanwhile counts.
    std::function<QString(const QString &receiverKey)> kept;
    // Fingerprints trusted for every receiver, for this run only.
    QList<QByteArray> anyReceiver;
    // The fingerprint kept for the receiver, as bytes; empty when none (or no valid one) is.
    QByteArray keptFor(const QString &receiverKey) const;
    bool trusts(const QString &receiverKey, const QByteArray &sha256) const;
};

// A certificate that the system's trust store does not accept for the receiver's name and
// whose fingerprint was not trusted for that receiver: nothing was sent over its connection.
struct UntrustedCertificate
{
    QString receiver;       // host:port in lower case, as trust is kept
    QByteArray fingerprint; // SHA-256 of the certificate the receiver showed
    QByteArray trusted;     // the one trusted for that receiver before; empty when none was
    QDateTime validFrom;
    QDateTime validUntil;

    bool changed() const { return !trusted.isEmpty(); }
};
