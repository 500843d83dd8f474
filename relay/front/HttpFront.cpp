#include "HttpFront.h"

#include <QPointer>
#include <QTcpServer>

#include <chrono>
#include <cstring>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <microhttpd.h>

namespace {

using Clock = std::chrono::steady_clock;

// One request on its way through the front, from its head to its answer.
struct Exchange
{
    Publication::Request request;
    qsizetype head = 0;
    std::optional<HttpFront::Reply> reply; // set on the relay's thread before it resumes
    bool tooLarge = false;                 // the body grew past the limit
};

MHD_Result collect(void *into, MHD_ValueKind kind, const char *key, const char *value)
{
    auto *exchange = static_cast<Exchange *>(into);
    const QByteArray name(key);
    const QByteArray text(value ? value : "");
    exchange->head += name.size() + text.size() + 4;
    if (kind == MHD_HEADER_KIND)
        exchange->request.headers += {name, text};
    else
        exchange->request.query += {QString::fromUtf8(name), QString::fromUtf8(text)};
    return MHD_YES;
}

MHD_Result queue(MHD_Connection *connection, const HttpFront::Reply &reply)
{
    MHD_Response *response
        = MHD_create_response_from_buffer(size_t(reply.body.size()),
                                          const_cast<char *>(reply.body.constData()),
                                          MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, "Content-Type", "application/json");
    const MHD_Result queued = MHD_queue_response(connection, unsigned(reply.status), response);
    MHD_destroy_response(response);
    return queued;
}

QHostAddress clientOf(MHD_Connection *connection)
{
    const MHD_ConnectionInfo *info
        = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    return info && info->client_addr ? QHostAddress(info->client_addr) : QHostAddress();
}

} // namespace

// The library's calls, on its thread.
struct FrontCalls
{
    static MHD_Result request(void *cls,
                              MHD_Connection *connection,
                              const char *url,
                              const char *method,
                              const char *version,
                              const char *upload,
                              size_t *uploadSize,
                              void **context)
    {
        auto *front = static_cast<HttpFront *>(cls);
        auto *exchange = static_cast<Exchange *>(*context);
        if (!exchange) { // the head is read
            exchange = new Exchange;
            *context = exchange;
            exchange->request.method = method;
            exchange->request.path = QString::fromUtf8(url);
            exchange->head
                = qsizetype(std::strlen(method) + std::strlen(url) + std::strlen(version) + 4);
            MHD_get_connection_values(connection, MHD_HEADER_KIND, collect, exchange);
            MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, collect, exchange);
            if (exchange->head > HttpFront::MaxHead)
                return queue(connection, front->m_refused(431));
            const char *length
                = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
            if (length && QByteArray(length).toLongLong() > Publication::MaxText)
                return queue(connection, front->m_refused(413));
            return MHD_YES;
        }
        if (exchange->reply)
            return queue(connection, *exchange->reply);
        if (*uploadSize > 0) { // a body over the limit is read to its end, and not kept
            exchange->tooLarge
                = exchange->tooLarge
                  || exchange->request.body.size() + qsizetype(*uploadSize) > Publication::MaxText;
            if (!exchange->tooLarge)
                exchange->request.body.append(upload, qsizetype(*uploadSize));
            *uploadSize = 0;
            return MHD_YES;
        }
        if (exchange->tooLarge)
            return queue(connection, front->m_refused(413));
        handOver(front, connection, exchange);
        return MHD_YES;
    }

    // The whole request goes to the relay's thread; the connection waits for its answer.
    static void handOver(HttpFront *front, MHD_Connection *connection, Exchange *exchange)
    {
        MHD_suspend_connection(connection);
        {
            const std::lock_guard lock(front->m_lock);
            front->m_suspended.insert(connection, exchange);
            front->m_deadlines[connection].second = Clock::time_point::max(); // the relay's turn
        }
        HttpFront::Incoming incoming{exchange->request, clientOf(connection), {}};
        QMetaObject::invokeMethod(
            front,
            [front, connection, incoming]() mutable {
                if (!front->m_daemon) // closed meanwhile: the connection is gone with it
                    return;
                incoming.answer = [front = QPointer<HttpFront>(front),
                                   connection](const HttpFront::Reply &reply) {
                    if (front && front->m_daemon)
                        front->resume(connection, reply);
                };
                emit front->received(incoming);
            },
            Qt::QueuedConnection);
    }

    // A request ended: the next one on the same connection has as long as the first.
    static void
    completed(void *cls, MHD_Connection *connection, void **context, MHD_RequestTerminationCode)
    {
        delete static_cast<Exchange *>(*context);
        *context = nullptr;
        auto *front = static_cast<HttpFront *>(cls);
        const std::lock_guard lock(front->m_lock);
        if (const auto watched = front->m_deadlines.find(connection);
            watched != front->m_deadlines.end())
            watched->second = Clock::now() + HttpFront::RequestWithin;
    }

    // Every connection is watched from its start: a request not whole in time is cut off.
    static void
    connection(void *cls, MHD_Connection *connection, void **, MHD_ConnectionNotificationCode code)
    {
        auto *front = static_cast<HttpFront *>(cls);
        const std::lock_guard lock(front->m_lock);
        if (code == MHD_CONNECTION_NOTIFY_CLOSED)
            return void(front->m_deadlines.remove(connection));
        const MHD_ConnectionInfo *info
            = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        if (info)
            front->m_deadlines.insert(
                connection, {qintptr(info->connect_fd), Clock::now() + HttpFront::RequestWithin});
    }
};

HttpFront::HttpFront(QObject *parent)
    : QObject(parent)
{
    m_watchdog.setInterval(std::chrono::milliseconds(250));
    connect(&m_watchdog, &QTimer::timeout, this, &HttpFront::cutOffLate);
}

// The library times out only a connection that stays silent; one that drips its request a byte
// at a time is shut here, and the library then closes it as any that ended.
void HttpFront::cutOffLate()
{
    const auto now = Clock::now();
    const std::lock_guard lock(m_lock);
    for (auto &[socket, deadline] : m_deadlines) {
        if (deadline > now)
            continue;
        deadline = Clock::time_point::max();
#ifdef Q_OS_WIN
        ::shutdown(SOCKET(socket), SD_BOTH);
#else
        ::shutdown(int(socket), SHUT_RDWR);
#endif
    }
}

HttpFront::~HttpFront()
{
    close();
}

std::optional<QString> HttpFront::listen(const QHostAddress &address, quint16 port, Refused refused)
{
    m_refused = std::move(refused);
    sockaddr_storage storage{};
    const bool v6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    if (v6) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, sizeof bytes.c);
    } else {
        auto *in4 = reinterpret_cast<sockaddr_in *>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(port);
        in4->sin_addr.s_addr = htonl(address.toIPv4Address());
    }
    const unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_ALLOW_SUSPEND_RESUME
                           | (v6 ? MHD_USE_IPv6 : 0);
    m_daemon = MHD_start_daemon(flags,
                                port,
                                nullptr,
                                nullptr,
                                &FrontCalls::request,
                                this,
                                MHD_OPTION_SOCK_ADDR,
                                &storage,
                                MHD_OPTION_CONNECTION_LIMIT,
                                unsigned(MaxConnections),
                                MHD_OPTION_CONNECTION_TIMEOUT,
                                unsigned(RequestWithin.count()),
                                MHD_OPTION_NOTIFY_COMPLETED,
                                &FrontCalls::completed,
                                this,
                                MHD_OPTION_NOTIFY_CONNECTION,
                                &FrontCalls::connection,
                                this,
                                MHD_OPTION_END);
    if (m_daemon) {
        m_watchdog.start();
        return std::nullopt;
    }
    // The library says only that it failed; the system's words for why come from trying again.
    QTcpServer probe;
    if (!probe.listen(address, port))
        return probe.errorString();
    return QStringLiteral("the HTTP server could not start");
}

quint16 HttpFront::port() const
{
    const MHD_DaemonInfo *info
        = m_daemon ? MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT) : nullptr;
    return info ? info->port : 0;
}

// Answers a request handed over, once: a second answer, or one after the front closed, is
// dropped.
void HttpFront::resume(MHD_Connection *connection, const Reply &reply)
{
    const std::lock_guard lock(m_lock);
    const auto exchange = m_suspended.constFind(connection);
    if (exchange == m_suspended.cend())
        return;
    static_cast<Exchange *>(*exchange)->reply = reply;
    MHD_resume_connection(connection);
    m_suspended.erase(exchange);
}

void HttpFront::close()
{
    if (!m_daemon)
        return;
    // The library stops only with no request waiting for its answer.
    const QList<MHD_Connection *> waiting = [this] {
        const std::lock_guard lock(m_lock);
        return m_suspended.keys();
    }();
    for (MHD_Connection *connection : waiting)
        resume(connection, m_refused(503));
    m_watchdog.stop();
    MHD_stop_daemon(std::exchange(m_daemon, nullptr));
}
