#pragma once

#include "Transfer.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

// The window's transfer component. It loads the transfer library (the network code) on the first
// send rather than at start, and counts the sends under way. A library that can't be loaded is
// reported as the send's failure, and the next send tries again. Where Qt is linked statically,
// the transfer is linked into the program instead and no library is loaded.
class InetOnDemand : public QObject
{
    Q_OBJECT

public:
    // library: the transfer library's path, without the platform's prefix and suffix.
    InetOnDemand(const QString &library,
                 std::chrono::milliseconds timeout,
                 QObject *parent = nullptr);
    ~InetOnDemand() override;

    // As Transfer::ReadAddress; or why the transfer library can't be loaded.
    std::variant<ReceiverAddress, QString> ReadAddress(const QString &typed);

    // As Transfer::Send; the handlers are skipped if context is gone by then.
    void Send(const Message &message, QObject *context, Transfer::Handlers handlers);

    // Which certificates the sends take beyond those the system trusts.
    void setCertificateTrust(const CertificateTrust &trust);

    // As Transfer::FindReceivers, asking where setFindAt says; nullptr, with failed told why,
    // when the transfer library can't be loaded.
    QObject *FindReceivers(std::function<void(const FoundReceiver &receiver)> found,
                           std::function<void()> finished,
                           const std::function<void(const QString &why)> &failed,
                           QObject *parent);

    // "address:port" to ask instead of the network's multicast DNS group: for tests.
    void setFindAt(const QString &address) { m_findAt = address; }

    // The system's own words for why the transfer library could not be loaded, while it is not.
    QString loadFailure() const { return m_transfer ? QString() : m_loadFailure; }

    int pendingCount() const { return m_transfer ? m_transfer->pendingCount() : 0; }

    // Where the transfer library lies: beside the program, or where it is installed.
    static QString libraryBesideProgram();

signals:
    void pendingCountChanged(int count);

private:
    QString load();

    QString m_library;
    std::chrono::milliseconds m_timeout;
    CertificateTrust m_trust;
    QString m_findAt;
    std::unique_ptr<Transfer> m_transfer;
    QString m_loadFailure;
};
