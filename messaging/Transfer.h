#pragma once

#include <QString>

#include <functional>

// The four values that describe one message, as typed.
struct Message
{
    QString address; // host[:port] or user:password@host[:port]
    QString timeout; // passed on as typed
    QString caption;
    QString body;
    int type = 1; // the second generation's box: 1 information, 2 warning, 3 error
};

// The transfer as the window reaches it inside the transfer library, which the window loads on
// its first send so that starting the program costs nothing of the network code.
class Transfer
{
public:
    // Called once per send: an empty text when the receiver took the message, else why not.
    using Done = std::function<void(const QString &failure)>;

    virtual ~Transfer() = default;

    // done comes from the event loop, or before Send returns when the address is not one to send
    // to. Destroying the transfer abandons what is under way, and done is not called.
    virtual void Send(const Message &message, Done done) = 0;
};

// What the transfer library exports under the name quillora_create_transfer: a new transfer with
// the given time-out for each send, owned by the caller.
using CreateTransfer = Transfer *(*)(qint64 timeoutMilliseconds);
