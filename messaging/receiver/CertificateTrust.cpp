#include "CertificateTrust.h"

QByteArray CertificateTrust::keptFor(const QString &receiverKey) const
{
    return kept ? ParseFingerprint(kept(receiverKey)).value_or(QByteArray()) : QByteArray();
}

bool CertificateTrust::trusts(const QString &receiverKey, const QByteArray &sha256) const
{
    return anyReceiver.contains(sha256) || keptFor(receiverKey) == sha256;
}
