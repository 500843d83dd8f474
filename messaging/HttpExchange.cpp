#include "HttpExchange.h"

#include <QCoreApplication>
#include <QNetworkProxy>
#include <QTcpSocket>

#include <utility>

#if defined(Q_OS_LINUX)
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Inet", text);
}

// The socket layer reports a receiver that closed the connection and one that reset it as the
// same close, and closes its handle at once. A second handle on the connection keeps it open for
// asking afterwards which of the two it was. Linux tells; elsewhere a reset after the last byte
// can't be told from a close.
qintptr keepWitness(qintptr descriptor)
{
#if defined(Q_OS_LINUX)
    return ::fcntl(static_cast<int>(descriptor), F_DUPFD_CLOEXEC, 0);
#else
    Q_UNUSED(descriptor);
    return -1;
#endif
}

// Whether the connection was reset rather than closed by the receiver. After an ordinary close
// this side has not closed yet; after a reset the connection is gone.
bool witnessSawReset(qintptr witness)
{
#if defined(Q_OS_LINUX)
    tcp_info info = {};
    socklen_t size = sizeof info;
    return ::getsockopt(static_cast<int>(witness), IPPROTO_TCP, TCP_INFO, &info, &size) == 0
           && info.tcpi_state != TCP_CLOSE_WAIT;
#else
    Q_UNUSED(witness);
    return false;
#endif
}

void dropWitness(qintptr witness)
{
    if (witness < 0)
        return;
#if defined(Q_OS_LINUX)
    ::close(static_cast<int>(witness));
#endif
}

QString socketFailure(const QTcpSocket &socket, const HttpRequest &request)
{
    switch (socket.error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return tr("nothing answers at %1 on port %2, so check that the address is right and that "
                  "the receiver's web interface is switched on")
            .arg(request.host)
            .arg(request.port);
    case QAbstractSocket::HostNotFoundError:
        return tr("there is no receiver named %1 on the network").arg(request.host);
    default:
        return socket.errorString();
    }
}

} // namespace

QByteArray HttpExchange::requestLine(const HttpRequest &request)
{
    return request.method + ' ' + request.target + " HTTP/1.1";
}

HttpExchange::HttpExchange(const HttpRequest &request, Done done, QObject *parent)
    : QObject(parent)
    , m_socket(new QTcpSocket(this))
    , m_done(std::move(done))
{
    QByteArray head = requestLine(request) + "\r\nHost: " + request.hostHeader + "\r\n";
    if (!request.authorization.isEmpty())
        head += "Authorization: " + request.authorization + "\r\n";
    if (!request.contentType.isEmpty())
        head += "Content-Type: " + request.contentType + "\r\n";
    if (request.method == "POST" || !request.body.isEmpty())
        head += "Content-Length: " + QByteArray::number(request.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";

    // The receiver is on the local network: no proxy stands between.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    m_socket->setReadBufferSize(HttpAnswerParser::MaxBodySize);
    connect(m_socket, &QTcpSocket::connected, this, [this, wire = head + request.body] {
        m_witness = keepWitness(m_socket->socketDescriptor());
        m_socket->write(wire);
    });
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpExchange::receive);
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpExchange::closed);
    connect(m_socket,
            &QTcpSocket::errorOccurred,
            this,
            [this, request](QAbstractSocket::SocketError error) {
                if (error == QAbstractSocket::RemoteHostClosedError)
                    return closed();
                receive(); // whatever came before the failure
                if (m_finished)
                    return;
                m_socketFailure = socketFailure(*m_socket, request);
                finish();
            });
    m_socket->connectToHost(request.host, request.port);
}

HttpExchange::~HttpExchange()
{
    dropWitness(m_witness);
}

void HttpExchange::receive()
{
    if (m_finished)
        return;
    if (m_parser.feed(m_socket->readAll()) != HttpAnswerParser::Verdict::More)
        finish();
}

void HttpExchange::closed()
{
    receive();
    if (m_finished)
        return;
    m_parser.closed(!endedInReset());
    finish();
}

bool HttpExchange::endedInReset() const
{
    return m_witness >= 0 && witnessSawReset(m_witness);
}

void HttpExchange::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    HttpOutcome outcome;
    outcome.unanswered = m_parser.unanswered();
    if (!m_socketFailure.isEmpty())
        outcome.failure = m_socketFailure;
    else if (m_parser.verdict() == HttpAnswerParser::Verdict::Complete)
        outcome.answer = m_parser.answer();
    else
        outcome.failure = m_parser.failure();
    m_socket->disconnect(this);
    m_socket->abort();
    dropWitness(std::exchange(m_witness, -1));
    QMetaObject::invokeMethod(
        this, [this, outcome] { m_done(outcome); }, Qt::QueuedConnection);
}
