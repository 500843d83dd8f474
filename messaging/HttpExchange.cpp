#include "HttpExchange.h"

#include <QCoreApplication>
#include <QNetworkProxy>
#include <QTcpSocket>

#include <algorithm>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Inet", text);
}

QString notHttp()
{
    return tr("the receiver's answer is not valid HTTP");
}

QString tooLong()
{
    return tr("the receiver's answer is too long");
}

// Where the head ends (after its empty line), or -1 while it is incomplete. Bare LF line ends
// are taken too.
qsizetype headEnd(const QByteArray &buffer)
{
    const qsizetype crlf = buffer.indexOf("\n\r\n");
    const qsizetype lf = buffer.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf < lf))
        return crlf + 3;
    return lf >= 0 ? lf + 2 : -1;
}

bool isDigits(const QByteArray &text)
{
    return !text.isEmpty()
           && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

HttpExchange::HttpExchange(const HttpRequest &request, Done done, QObject *parent)
    : QObject(parent)
    , m_socket(new QTcpSocket(this))
    , m_done(std::move(done))
{
    QByteArray head = request.method + ' ' + request.target
                      + " HTTP/1.1\r\nHost: " + request.hostHeader + "\r\n";
    if (!request.authorization.isEmpty())
        head += "Authorization: " + request.authorization + "\r\n";
    if (!request.contentType.isEmpty())
        head += "Content-Type: " + request.contentType + "\r\n";
    if (request.method == "POST" || !request.body.isEmpty())
        head += "Content-Length: " + QByteArray::number(request.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";

    // The receiver is on the local network: no proxy stands between.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    m_socket->setReadBufferSize(MaxBodySize);
    connect(m_socket, &QTcpSocket::connected, this, [this, wire = head + request.body] {
        m_socket->write(wire);
    });
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpExchange::receive);
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpExchange::closed);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            closed();
        else
            finish(m_socket->errorString());
    });
    m_socket->connectToHost(request.host, request.port);
}

void HttpExchange::receive()
{
    if (m_stage == Stage::Finished)
        return;
    const QByteArray data = m_socket->readAll();
    m_answered = m_answered || !data.isEmpty();
    m_buffer += data;
    parse();
}

void HttpExchange::closed()
{
    receive();
    if (m_stage == Stage::Finished)
        return;
    if (m_stage == Stage::UntilClose)
        finish({});
    else if (!m_answered)
        finish(tr("the receiver closed the connection without answering"));
    else
        finish(tr("the connection closed before the receiver's answer was complete"));
}

void HttpExchange::parse()
{
    for (;;) {
        switch (m_stage) {
        case Stage::Head:
            if (!parseHead())
                return;
            break;
        case Stage::UntilClose:
            takeBody(m_buffer.size());
            return;
        case Stage::ChunkSize:
        case Stage::ChunkEnd:
            if (!parseChunkLine())
                return;
            break;
        case Stage::Length:
        case Stage::ChunkData:
            if (!takeBody(std::min<qint64>(m_remaining, m_buffer.size())) || m_remaining > 0)
                return;
            if (m_stage == Stage::Length)
                return finish({});
            m_stage = Stage::ChunkEnd;
            break;
        case Stage::Finished:
            return;
        }
    }
}

// Reads the status line and headers once they are all there; true when parsing can go on.
bool HttpExchange::parseHead()
{
    // Bytes that can't begin a status line show at once that this is not HTTP.
    static const QByteArray version = "HTTP/";
    if (!version.startsWith(m_buffer.left(version.size()))) {
        finish(notHttp());
        return false;
    }
    const qsizetype end = headEnd(m_buffer);
    if (end < 0 ? m_buffer.size() > MaxHeadSize : end > MaxHeadSize) {
        finish(notHttp());
        return false;
    }
    if (end < 0)
        return false;

    const QList<QByteArray> lines = m_buffer.left(end).trimmed().split('\n');
    m_buffer.remove(0, end);
    const QByteArray statusLine = lines.first().trimmed();
    const qsizetype space = statusLine.indexOf(' ');
    const QByteArray status = statusLine.mid(space + 1, 3);
    if (space < 0 || !isDigits(status)
        || (statusLine.size() > space + 4 && statusLine[space + 4] != ' ')) {
        finish(notHttp());
        return false;
    }
    m_answer.status = status.toInt();
    m_answer.reason = statusLine.mid(space + 5);

    QByteArray length;
    bool chunked = false;
    for (const QByteArray &line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length")
            length = value;
        else if (name == "transfer-encoding")
            chunked = value.toLower().endsWith("chunked");
    }

    if (m_answer.status >= 100 && m_answer.status < 200) {
        m_answer = {}; // an interim answer; the real one follows
        return true;
    }
    if (m_answer.status == 204 || m_answer.status == 304) {
        finish({});
        return false;
    }
    if (chunked) {
        m_stage = Stage::ChunkSize;
    } else if (!length.isEmpty()) {
        if (!isDigits(length)) {
            finish(notHttp());
            return false;
        }
        if (length.size() > 9 || length.toLongLong() > MaxBodySize) {
            finish(tooLong());
            return false;
        }
        m_remaining = length.toLongLong();
        if (m_remaining == 0) {
            finish({});
            return false;
        }
        m_stage = Stage::Length;
    } else {
        m_stage = Stage::UntilClose;
    }
    return true;
}

// Reads a chunk's size line, or the line end after its data; true when parsing can go on.
bool HttpExchange::parseChunkLine()
{
    static constexpr qsizetype MaxLine = 1024;
    const qsizetype newline = m_buffer.indexOf('\n');
    if (newline < 0 || newline > MaxLine) {
        if (newline > MaxLine || m_buffer.size() > MaxLine)
            finish(notHttp());
        return false;
    }
    QByteArray line = m_buffer.left(newline).trimmed();
    m_buffer.remove(0, newline + 1);
    if (m_stage == Stage::ChunkEnd) {
        if (!line.isEmpty()) {
            finish(notHttp());
            return false;
        }
        m_stage = Stage::ChunkSize;
        return true;
    }
    if (line.contains(';')) // a chunk extension
        line = line.left(line.indexOf(';')).trimmed();
    bool isNumber = false;
    m_remaining = line.toLongLong(&isNumber, 16);
    if (!isNumber || m_remaining < 0) {
        finish(notHttp());
        return false;
    }
    if (m_remaining > MaxBodySize - m_answer.body.size()) {
        finish(tooLong());
        return false;
    }
    if (m_remaining == 0) { // the last chunk; trailers, if any, are of no interest
        finish({});
        return false;
    }
    m_stage = Stage::ChunkData;
    return true;
}

// Moves count bytes of the buffer to the body; false when that makes the answer too long.
bool HttpExchange::takeBody(qsizetype count)
{
    if (m_answer.body.size() + count > MaxBodySize) {
        finish(tooLong());
        return false;
    }
    m_answer.body += m_buffer.left(count);
    m_buffer.remove(0, count);
    m_remaining -= count;
    return true;
}

void HttpExchange::finish(const QString &failure)
{
    if (m_stage == Stage::Finished)
        return;
    m_stage = Stage::Finished;
    m_buffer.clear();
    m_socket->disconnect(this);
    m_socket->abort();
    QMetaObject::invokeMethod(
        this, [this, failure] { m_done(failure, m_answer); }, Qt::QueuedConnection);
}
