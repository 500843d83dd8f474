#include "CertificateTrust.h"

QString ReceiverKey(const QString &host, quint16 port)
{
    return (host + u':' + QString::number(port)).toLower();
}

QByteArray CertificateTrust::keptFor(const QString &receiverKey) const
{
    return kept ? ParseFingerprint(kept(receiverKey)).value_or(QByteArray()) : QByteArray();
}

bool CertificateTrust::trusts(const QString &receiverKey, const QByteArray &sha256) const
{
    return anyReceiver.contains(sha256) || keptFor(receiverKey) == sha256;
}
