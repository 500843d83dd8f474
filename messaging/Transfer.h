#pragma once

#include "FoundReceiver.h"
#include "Message.h"
#include "ReceiverDialogue.h"

#include <QObject>
#include <QString>

#include <functional>
#include <variant>

// The transfer as the window reaches it inside the transfer library, which the window loads on
// its first send so that starting the program costs nothing of the network code.
class Transfer
{
public:
    using Done = std::function<void(const SendOutcome &outcome)>;
    using Handlers = ReceiverDialogue::Handlers;

    virtual ~Transfer() = default;

    // The address as typed, read into its parts, or why no message can go there.
    virtual std::variant<ReceiverAddress, QString> ReadAddress(const QString &typed) = 0;

    // The handlers are called from the event loop, and skipped if context is gone by then.
    // Destroying the transfer abandons what is under way, and no handler is called.
    virtual void Send(const Message &message, QObject *context, Handlers handlers) = 0;

    // Told how many sends are under way, whenever that changes; and how many are now.
    virtual void onPendingCountChanged(std::function<void(int count)> changed) = 0;
    virtual int pendingCount() const = 0;

    // Which certificates the sends from now on take beyond those the system trusts.
    virtual void setCertificateTrust(const CertificateTrust &trust) = 0;

    // Looks for receivers on the local network, for a few seconds; askAt ("address:port") asks
    // there alone instead, for trying it on this machine. found is told each receiver as it is
    // confirmed, finished once when the search is over. Destroying the returned object (a child
    // of parent) ends the search without telling anybody.
    virtual QObject *FindReceivers(const QString &askAt,
                                   std::function<void(const FoundReceiver &receiver)> found,
                                   std::function<void()> finished,
                                   QObject *parent)
        = 0;
};

// What the transfer library exports under the name quillora_create_transfer: a new transfer with
// the given time-out for each send, owned by the caller.
using CreateTransfer = Transfer *(*)(qint64 timeoutMilliseconds);
