#pragma once

#include "Publication.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

struct MHD_Connection;
struct MHD_Daemon;

// The relay's one port: GNU libmicrohttpd takes the connections, reads each request within the
// bounds below and hands it, whole, to the object's thread; the answer goes back the same way.
// Nothing but the handing over happens on the library's thread.
class HttpFront : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxConnections = 64;
    static constexpr qsizetype MaxHead = 8192; // the request line and the headers
    static constexpr std::chrono::seconds RequestWithin{10};

    struct Reply
    {
        int status = 200;
        QByteArray body; // JSON
    };

    // A request as read, and where it came from. Answer it with the reply, once.
    struct Incoming
    {
        Publication::Request request;
        QHostAddress client;
        std::function<void(const Reply &reply)> answer;
    };

    // What the front answers itself, before a request is whole: its head or body is too large.
    using Refused = std::function<Reply(int status)>;

    explicit HttpFront(QObject *parent = nullptr);
    ~HttpFront() override;

    // Listens at the address and port (0: any free one); or says why it can't.
    std::optional<QString> listen(const QHostAddress &address, quint16 port, Refused refused);
    quint16 port() const;
    // Takes no more requests; those under way are dropped.
    void close();

signals:
    void received(const HttpFront::Incoming &incoming);

private:
    using Clock = std::chrono::steady_clock;

    void resume(MHD_Connection *connection, const Reply &reply);
    void cutOffLate();

    MHD_Daemon *m_daemon = nullptr;
    // What the library's thread and this one share.
    std::mutex m_lock;
    // Requests handed over and not yet answered: the library's thread adds, this one answers.
    QHash<MHD_Connection *, void *> m_suspended;
    // Each connection's socket, and when its request must be whole (none while the relay has it).
    QHash<MHD_Connection *, std::pair<qintptr, Clock::time_point>> m_deadlines;
    QTimer m_watchdog;
    Refused m_refused;
    friend struct FrontCalls;
};
