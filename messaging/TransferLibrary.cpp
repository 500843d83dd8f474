// The transfer library: the receiver dialogue and its network code, loaded by the window on its
// first send.
#include "Inet.h"
#include "Transfer.h"

namespace {

class InetTransfer : public Transfer
{
public:
    explicit InetTransfer(std::chrono::milliseconds timeout)
        : m_inet(timeout)
    {}

    void Send(const Message &message, Done done) override
    {
        m_inet.Send(message, &m_inet, std::move(done));
    }

private:
    Inet m_inet;
};

} // namespace

extern "C" Q_DECL_EXPORT Transfer *quillora_create_transfer(qint64 timeoutMilliseconds)
{
    return new InetTransfer(std::chrono::milliseconds(timeoutMilliseconds));
}
