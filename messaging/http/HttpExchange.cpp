#include "HttpExchange.h"
#include "Fingerprint.h"

#include <QCoreApplication>
#include <QNetworkProxy>
#include <QSslSocket>
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

// How the connection failed, before an answer.
HttpFailure socketFailure(const QTcpSocket &socket)
{
    switch (socket.error()) {
    case QAbstractSocket::ConnectionRefusedError:
        return {HttpFailure::Kind::Refused, {}, {}};
    case QAbstractSocket::HostNotFoundError:
        return {HttpFailure::Kind::NameUnknown, {}, {}};
    default:
        return {HttpFailure::Kind::Network, socket.errorString(), {}};
    }
}

// The address with its network, where a link-local one needs it; the certificate is judged for
// the address alone.
QString connectTo(const HttpRequest &request)
{
    return request.zone.isEmpty() ? request.host : request.host + u'%' + request.zone;
}

QString tlsVersion(QSsl::SslProtocol protocol)
{
    switch (protocol) {
    case QSsl::TlsV1_2:
        return QStringLiteral("TLS 1.2");
    case QSsl::TlsV1_3:
        return QStringLiteral("TLS 1.3");
    default:
        return QStringLiteral("TLS");
    }
}

} // namespace

QByteArray HttpExchange::requestLine(const HttpRequest &request)
{
    return request.method + ' ' + request.target + " HTTP/1.1";
}

QString HttpRequest::Origin(bool tls, const QString &host, quint16 port)
{
    const QString bracketed = host.contains(u':') ? u'[' + host + u']' : host;
    return (tls ? QStringLiteral("https://") : QString()) + bracketed + u':' + QString::number(port);
}

HttpExchange::HttpExchange(const HttpRequest &request,
                           CertificateCheck check,
                           Done done,
                           QObject *parent)
    : QObject(parent)
    , m_request(request)
    , m_check(std::move(check))
    , m_socket(request.tls ? new QSslSocket(this) : new QTcpSocket(this))
    , m_done(std::move(done))
{
    // The receiver is on the local network: no proxy stands between.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    m_socket->setReadBufferSize(HttpAnswerParser::MaxBodySize);
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_tcpConnected = true;
        m_witness = keepWitness(m_socket->socketDescriptor());
        if (!m_request.tls)
            send();
    });
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpExchange::receive);
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpExchange::closed);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            return closed();
        failed();
    });
    if (auto *tls = qobject_cast<QSslSocket *>(m_socket)) {
        connect(tls, &QSslSocket::sslErrors, this, &HttpExchange::judgeCertificate);
        connect(tls, &QSslSocket::encrypted, this, [this, tls] {
            const QString by = m_trustedByFingerprint ? tr("trusted by its fingerprint")
                                                      : tr("accepted by the system's trust store");
            m_outcome.tls = tr("%1, certificate SHA-256 %2 %3")
                                .arg(tlsVersion(tls->sessionProtocol()),
                                     FormatFingerprint(
                                         tls->peerCertificate().digest(QCryptographicHash::Sha256)),
                                     by);
            send();
        });
        tls->connectToHostEncrypted(connectTo(request), request.port, request.host);
    } else {
        m_socket->connectToHost(connectTo(request), request.port);
    }
}

void HttpExchange::abandon()
{
    m_finished = true;
    m_socket->disconnect(this);
    m_socket->abort();
    dropWitness(std::exchange(m_witness, -1));
}

HttpExchange::~HttpExchange()
{
    dropWitness(m_witness);
}

// The system's trust store did not accept the certificate for the server's name. It is taken
// only when the check says so; otherwise the handshake ends here, before a byte of the request
// has gone out.
void HttpExchange::judgeCertificate()
{
    auto *tls = static_cast<QSslSocket *>(m_socket);
    const QSslCertificate certificate = tls->peerCertificate();
    const PeerCertificate peer{certificate.digest(QCryptographicHash::Sha256),
                               certificate.effectiveDate(),
                               certificate.expiryDate()};
    if (!certificate.isNull() && m_check && m_check(peer)) {
        m_trustedByFingerprint = true;
        tls->ignoreSslErrors();
        return;
    }
    m_outcome.refused = peer;
}

void HttpExchange::send()
{
    const HttpRequest &request = m_request;
    QByteArray head = requestLine(request) + "\r\nHost: " + request.hostHeader + "\r\n";
    if (!request.authorization.isEmpty())
        head += "Authorization: " + request.authorization + "\r\n";
    if (!request.contentType.isEmpty())
        head += "Content-Type: " + request.contentType + "\r\n";
    if (request.method == "POST" || !request.body.isEmpty())
        head += "Content-Length: " + QByteArray::number(request.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    m_outcome.connected = true;
    m_socket->write(head + request.body);
    if (m_sent)
        m_sent();
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
    if (m_request.tls && !m_outcome.connected) // closed during the handshake
        return failed();
    m_parser.closed(!endedInReset());
    finish();
}

void HttpExchange::failed()
{
    receive(); // whatever came before the failure
    if (m_finished)
        return;
    if (m_outcome.refused)
        m_outcome.failure = HttpFailure{HttpFailure::Kind::Certificate, {}, {}};
    else if (m_tcpConnected && !m_outcome.connected) // the TLS handshake failed
        m_outcome.failure = HttpFailure{HttpFailure::Kind::Tls, m_socket->errorString(), {}};
    else
        m_outcome.failure = socketFailure(*m_socket);
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
    HttpOutcome outcome = m_outcome;
    outcome.unanswered = m_parser.unanswered();
    if (!outcome.failure) {
        if (m_parser.verdict() == HttpAnswerParser::Verdict::Complete)
            outcome.answer = m_parser.answer();
        else
            outcome.failure = HttpFailure{HttpFailure::Kind::Answer, {}, m_parser.refusal()};
    }
    m_socket->disconnect(this);
    m_socket->abort();
    dropWitness(std::exchange(m_witness, -1));
    QMetaObject::invokeMethod(
        this, [this, outcome] { m_done(outcome); }, Qt::QueuedConnection);
}
