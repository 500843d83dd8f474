#include "CertificateTrust.h"

#include <QRegularExpression>

QString FormatFingerprint(const QByteArray &sha256)
{
    return QString::fromLatin1(sha256.toHex(':').toUpper());
}

std::optional<QByteArray> ParseFingerprint(QStringView typed)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*([0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){31}|[0-9A-Fa-f]{64})\\s*$"));
    if (!form.match(typed.toString()).hasMatch())
        return std::nullopt;
    return QByteArray::fromHex(typed.toLatin1().replace(':', ""));
}

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
    return anyCertificate || anyReceiver.contains(sha256) || keptFor(receiverKey) == sha256;
}

CertificateTrust CertificateTrust::anything()
{
    CertificateTrust trust;
    trust.anyCertificate = true;
    return trust;
}
