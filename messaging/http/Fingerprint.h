#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <optional>

// A certificate's SHA-256 fingerprint as people compare it: 32 bytes as upper-case hex pairs
// joined by ':', as `openssl x509 -fingerprint -sha256` prints it.
inline QString FormatFingerprint(const QByteArray &sha256)
{
    return QString::fromLatin1(sha256.toHex(':').toUpper());
}

// The 32 bytes of a fingerprint as typed or kept: upper or lower case, with or without the
// colons between the pairs. Nothing when it is not one.
std::optional<QByteArray> ParseFingerprint(QStringView typed);
