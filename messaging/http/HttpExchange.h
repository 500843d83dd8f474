#pragma once

#include "HttpAnswerParser.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QTcpSocket;

// One HTTP request to the receiver, as it goes on the wire.
struct HttpRequest
{
    QString host;             // name or address to connect to
    QString zone;             // the network of an IPv6 link-local address, else empty
    quint16 port = 80;        // port to connect to
    bool tls = false;         // over TLS, never falling back to plain HTTP
    QByteArray hostHeader;    // host[:port], for the Host header
    QByteArray authorization; // "Basic …" when the address holds a login, else empty
    QByteArray method = "GET";
    QByteArray target;      // path and query, ready for the request line
    QByteArray contentType; // of the body; a request without a body has none
    QByteArray body;

    // [https://]host:port, as messages name the server asked.
    QString origin() const { return Origin(tls, host, port); }

    static QString Origin(bool tls, const QString &host, quint16 port);
};

// A certificate a server showed over TLS.
struct PeerCertificate
{
    QByteArray sha256; // its fingerprint
    QDateTime validFrom;
    QDateTime validUntil;
};

// Whether to take a certificate that the system's trust store does not accept for the server's
// name. Asked during the handshake, before a byte of the request goes out.
using CertificateCheck = std::function<bool(const PeerCertificate &certificate)>;

// Why an exchange ended without an answer that could be taken.
struct HttpFailure
{
    enum class Kind {
        Refused,     // nothing accepts connections at that address and port
        NameUnknown, // no host has that name
        Network,     // the connection failed otherwise: detail has the system's words
        Tls,         // no TLS connection could be made: detail has the system's words
        Certificate, // the certificate was not taken (HttpOutcome::refused)
        Answer,      // what came is not an answer that can be taken: refusal says why
    };
    Kind kind = Kind::Network;
    QString detail;
    HttpRefusal refusal;
};

// How one exchange ended.
struct HttpOutcome
{
    std::optional<HttpFailure> failure; // none when an answer came
    HttpAnswer answer;       // the answer, when one came
    bool connected = false;  // a connection was made (and, with TLS, secured)
    bool unanswered = false; // the connection ended before a single byte of an answer
    QString tls;             // the TLS version and the certificate's fingerprint, when secured
    std::optional<PeerCertificate> refused; // the certificate that ended the exchange
};

// Puts one request on the wire over a connection of its own (Connection: close) and reads the
// answer. The request goes out once, whatever becomes of the connection: a receiver queues its
// messages, so a request sent again would show the message again. Over TLS the request goes out
// only once the receiver's certificate is trusted.
class HttpExchange : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(const HttpOutcome &outcome)>;
    using Sent = std::function<void()>;

    // Starts at once. done is called from the event loop, never from inside the constructor;
    // destroying the exchange before then abandons it and done is not called.
    HttpExchange(const HttpRequest &request,
                 CertificateCheck check,
                 Done done,
                 QObject *parent = nullptr);
    ~HttpExchange() override;

    // Told once, when the request's bytes are written: over TLS only after the certificate was
    // trusted, so that what is told went out.
    void setSent(Sent sent) { m_sent = std::move(sent); }

    // Ends the exchange at once, its connection closed, and done is not called.
    void abandon();

    // The request line as it goes on the wire, without its line end.
    static QByteArray requestLine(const HttpRequest &request);

private:
    void judgeCertificate();
    void send();
    void receive();
    void closed();
    void failed();
    void finish();
    bool endedInReset() const;

    HttpRequest m_request;
    CertificateCheck m_check;
    QTcpSocket *m_socket;
    Done m_done;
    Sent m_sent;
    HttpAnswerParser m_parser;
    HttpOutcome m_outcome;
    qintptr m_witness = -1; // a second handle on the connection, to tell a close from a reset
    bool m_tcpConnected = false;
    bool m_trustedByFingerprint = false; // rather than by the system's trust store
    bool m_finished = false;
};
