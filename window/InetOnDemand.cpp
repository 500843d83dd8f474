#include "InetOnDemand.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#ifdef QUILLORA_TRANSFER_LINKED
// The transfer linked into the program.
extern "C" Transfer *quillora_create_transfer(qint64 timeoutMilliseconds);
#endif

InetOnDemand::InetOnDemand(const QString &library,
                           std::chrono::milliseconds timeout,
                           QObject *parent)
    : QObject(parent)
    , m_library(library)
    , m_timeout(timeout)
{}

// Closing the window abandons whatever is still under way, without telling anybody.
InetOnDemand::~InetOnDemand() = default;

QString InetOnDemand::libraryBesideProgram()
{
    const QString folder = QCoreApplication::applicationDirPath();
    const QString beside = folder + QStringLiteral("/quillora-transfer");
#ifdef QUILLORA_TRANSFER_INSTALLED
    // An installed program finds it in the library folder of the installation.
    if (!QFileInfo::exists(beside + QStringLiteral(".so")))
        return folder + QStringLiteral("/" QUILLORA_TRANSFER_INSTALLED "/quillora-transfer");
#endif
    return beside;
}

// Why the library can't be had, or empty once it is loaded.
QString InetOnDemand::load()
{
    if (m_transfer)
        return {};
#ifdef QUILLORA_TRANSFER_LINKED
    m_transfer.reset(quillora_create_transfer(m_timeout.count()));
#else
    QLibrary library(m_library);
    const auto create
        = reinterpret_cast<CreateTransfer>(library.resolve("quillora_create_transfer"));
    if (!create) {
        m_loadFailure = library.errorString();
        return tr("Quillora's network part (%1) is missing or damaged; reinstall Quillora")
            .arg(QDir::toNativeSeparators(m_library));
    }
    m_transfer.reset(create(m_timeout.count()));
#endif
    m_transfer->setCertificateTrust(m_trust);
    m_transfer->onPendingCountChanged([this](int count) { emit pendingCountChanged(count); });
    return {};
}

void InetOnDemand::setCertificateTrust(const CertificateTrust &trust)
{
    m_trust = trust;
    if (m_transfer)
        m_transfer->setCertificateTrust(trust);
}

QObject *InetOnDemand::FindReceivers(std::function<void(const FoundReceiver &receiver)> found,
                                     std::function<void()> finished,
                                     const std::function<void(const QString &why)> &failed,
                                     QObject *parent)
{
    if (const QString missing = load(); !missing.isEmpty()) {
        failed(missing);
        return nullptr;
    }
    return m_transfer->FindReceivers(m_findAt, std::move(found), std::move(finished), parent);
}

std::variant<ReceiverAddress, QString> InetOnDemand::ReadAddress(const QString &typed)
{
    if (const QString missing = load(); !missing.isEmpty())
        return missing;
    return m_transfer->ReadAddress(typed);
}

// The transfer is loaded: the address was read through it.
void InetOnDemand::Send(const Message &message, QObject *context, Transfer::Handlers handlers)
{
    m_transfer->Send(message, context, std::move(handlers));
}
