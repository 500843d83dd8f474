#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

class QTcpSocket;

// One HTTP request to the receiver, as it goes on the wire.
struct HttpRequest
{
    QString host;             // name or address to connect to
    quint16 port = 80;        // port to connect to
    QByteArray hostHeader;    // host[:port] as typed, for the Host header
    QByteArray authorization; // "Basic …" when the address holds a login, else empty
    QByteArray method = "GET";
    QByteArray target;      // path and query, ready for the request line
    QByteArray contentType; // of the body; a request without a body has none
    QByteArray body;
};

// What the receiver answered: status line and body (headers are not kept).
struct HttpAnswer
{
    int status = 0;
    QByteArray reason;
    QByteArray body;
};

// Puts one request on the wire over a connection of its own (Connection: close) and reads the
// answer. The request goes out once, whatever becomes of the connection: a receiver queues its
// messages, so a request sent again would show the message again. No answer is kept beyond a
// small, fixed size; a receiver's real answers are a few hundred bytes.
class HttpExchange : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype MaxHeadSize = 64 * 1024; // status line and headers
    static constexpr qsizetype MaxBodySize = 64 * 1024;

    // Called once: failure is empty when an answer came, and answer holds it.
    using Done = std::function<void(const QString &failure, const HttpAnswer &answer)>;

    // Starts at once. done is called from the event loop, never from inside the constructor;
    // destroying the exchange before then abandons it and done is not called.
    HttpExchange(const HttpRequest &request, Done done, QObject *parent = nullptr);

private:
    enum class Stage { Head, Length, UntilClose, ChunkSize, ChunkData, ChunkEnd, Finished };

    void receive();
    void closed();
    void parse();
    bool parseHead();
    bool parseChunkLine();
    bool takeBody(qsizetype count);
    void finish(const QString &failure);

    QTcpSocket *m_socket;
    Done m_done;
    QByteArray m_buffer; // received and not yet parsed
    HttpAnswer m_answer;
    Stage m_stage = Stage::Head;
    qint64 m_remaining = 0;  // bytes still to come of the body (Length) or of the chunk
    bool m_answered = false; // whether any byte of an answer came
};
