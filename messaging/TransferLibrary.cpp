// The transfer library: the receiver dialogue and its network code, loaded by the window on its
// first send.
#include "Inet.h"
#include "ReceiverFinder.h"
#include "Transfer.h"

namespace {

class InetTransfer : public Transfer
{
public:
    explicit InetTransfer(std::chrono::milliseconds timeout)
        : m_inet(timeout)
    {}

    std::variant<ReceiverAddress, QString> ReadAddress(const QString &typed) override
    {
        return ParseReceiverAddress(typed);
    }

    void Send(const Message &message, QObject *context, Handlers handlers) override
    {
        m_inet.Send(message, context, std::move(handlers));
    }

    int pendingCount() const override { return m_inet.pendingCount(); }

    void onPendingCountChanged(std::function<void(int count)> changed) override
    {
        QObject::connect(&m_inet, &Inet::pendingCountChanged, &m_inet, std::move(changed));
    }

    void setCertificateTrust(const CertificateTrust &trust) override
    {
        m_inet.setCertificateTrust(trust);
    }

    QObject *FindReceivers(const QString &askAt,
                           std::function<void(const FoundReceiver &receiver)> found,
                           std::function<void()> finished,
                           QObject *parent) override
    {
        auto *finder = new ReceiverFinder(parent);
        if (const qsizetype colon = askAt.lastIndexOf(QLatin1Char(':')); colon > 0)
            finder->setTarget(QHostAddress(askAt.left(colon)), askAt.mid(colon + 1).toUShort());
        QObject::connect(finder, &ReceiverFinder::found, finder, std::move(found));
        QObject::connect(finder, &ReceiverFinder::finished, finder, std::move(finished));
        finder->start();
        return finder;
    }

private:
    Inet m_inet;
};

} // namespace

extern "C" Q_DECL_EXPORT Transfer *quillora_create_transfer(qint64 timeoutMilliseconds)
{
    return new InetTransfer(std::chrono::milliseconds(timeoutMilliseconds));
}
