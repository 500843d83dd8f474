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

    // As Transfer::Send; done is skipped if context is gone by then.
    void Send(const Message &message, QObject *context, Transfer::Done done);

    int pendingCount() const { return m_pending; }

    // Where the transfer library lies: beside the program, or where it is installed.
    static QString libraryBesideProgram();

signals:
    void pendingCountChanged(int count);

private:
    QString load();

    QString m_library;
    std::chrono::milliseconds m_timeout;
    std::unique_ptr<Transfer> m_transfer;
    int m_pending = 0;
};
