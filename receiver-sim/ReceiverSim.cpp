#include "ReceiverSim.h"

#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace {

// The largest request body taken: a long message is a few dozen KiB.
constexpr qint64 MaxBody = 1024 * 1024;

} // namespace

ReceiverSim::ReceiverSim(Firmware firmware, QObject *parent)
    : QTcpServer(parent)
    , m_firmware(firmware)
    , m_maxLine(firmware == Firmware::First ? 0 : 16 * 1024)
{}

void ReceiverSim::requireLogin(const QString &user, const QString &password)
{
    m_login = (user + QLatin1Char(':') + password).toUtf8();
}

void ReceiverSim::serveTls(const QSslCertificate &certificate, const QSslKey &key)
{
    m_certificate = certificate;
    m_key = key;
}

QByteArray ReceiverSim::header(const QByteArray &request, const QByteArray &name)
{
    const QList<QByteArray> lines = request.left(request.indexOf("\r\n\r\n")).split('\n');
    for (const QByteArray &line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

QHash<QString, QString> ReceiverSim::decodeQuery(const QByteArray &query)
{
    QHash<QString, QString> values;
    for (const QByteArray &pair : query.split('&')) {
        const qsizetype equals = pair.indexOf('=');
        const auto decoded = [](QByteArray part) {
            return QString::fromUtf8(QByteArray::fromPercentEncoding(part.replace('+', ' ')));
        };
        values.insert(decoded(pair.left(equals)),
                      equals < 0 ? QString() : decoded(pair.mid(equals + 1)));
    }
    return values;
}

void ReceiverSim::incomingConnection(qintptr socketDescriptor)
{
    QTcpSocket *socket = nullptr;
    if (m_certificate.isNull()) {
        socket = new QTcpSocket(this);
        socket->setSocketDescriptor(socketDescriptor);
    } else {
        auto *tls = new QSslSocket(this);
        tls->setSocketDescriptor(socketDescriptor);
        tls->setLocalCertificate(m_certificate);
        tls->setPrivateKey(m_key);
        tls->startServerEncryption();
        socket = tls;
    }
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(
        socket, &QTcpSocket::readyRead, socket, [this, socket, pending = QByteArray()]() mutable {
            pending += socket->readAll();
            const qsizetype lineEnd = pending.indexOf("\r\n");
            if (m_maxLine > 0 && (lineEnd < 0 ? pending.size() : lineEnd) > m_maxLine) {
                socket->abort();
                return;
            }
            // One connection may carry several requests, each with a body of Content-Length.
            for (qsizetype end; (end = pending.indexOf("\r\n\r\n")) >= 0;) {
                const QByteArray length = header(pending.left(end + 4), "Content-Length");
                bool isNumber = length.isEmpty();
                const qint64 bodySize = isNumber ? 0 : length.toLongLong(&isNumber);
                // Only digits, and no more than a message ever needs.
                if (!isNumber || bodySize < 0 || bodySize > MaxBody
                    || !std::all_of(length.begin(), length.end(), [](char c) {
                           return c >= '0' && c <= '9';
                       })) {
                    socket->write(response(400, "Bad Request", "bad Content-Length\n"));
                    socket->disconnectFromHost();
                    return;
                }
                const qsizetype size = end + 4 + bodySize;
                if (pending.size() < size)
                    return;
                const QByteArray request = pending.left(size);
                pending.remove(0, size);
                m_requests.append(request);
                reply(socket, request);
            }
        });
}

void ReceiverSim::reply(QTcpSocket *socket, const QByteArray &request)
{
    const QByteArray bytes = answer(request);
    socket->write(bytes);
    if (!bytes.isEmpty()
        && header(request, "Connection").compare("close", Qt::CaseInsensitive) == 0)
        socket->disconnectFromHost();
}

QByteArray ReceiverSim::answer(const QByteArray &request)
{
    const QList<QByteArray> requestLine = request.left(request.indexOf("\r\n")).split(' ');
    const QByteArray method = requestLine.value(0);
    const QByteArray target = requestLine.value(1);
    const qsizetype question = target.indexOf('?');
    const QByteArray path = question < 0 ? target : target.left(question);
    const QByteArray query = question < 0 ? QByteArray() : target.mid(question + 1);
    const QByteArray body = request.mid(request.indexOf("\r\n\r\n") + 4);
    const QByteArray notFound = response(404, "Not Found", "Not Found\n");

    if (!m_login.isEmpty() && header(request, "Authorization") != "Basic " + m_login.toBase64())
        return response(401, "Unauthorized", "", "WWW-Authenticate: Basic realm=\"receiver\"\r\n");

    if (m_firmware == Firmware::First) {
        if (method != "GET" || path != "/cgi-bin/xmessage")
            return notFound;
        const QHash<QString, QString> values = decodeQuery(query);
        emit messageReceived(values.value(QStringLiteral("timeout")),
                             values.value(QStringLiteral("caption")),
                             values.value(QStringLiteral("body")));
        return response(200, "OK", "+ok\n");
    }

    if (path == "/web/session" && m_firmware == Firmware::Maker) {
        const QString id = QStringLiteral("session") + QString::number(++m_sessionCount);
        m_sessions.insert(id);
        return response(200,
                        "OK",
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<e2sessionid>" + id.toUtf8()
                            + "</e2sessionid>\n",
                        "Content-Type: application/xhtml+xml\r\n");
    }
    const QByteArray form = method == "POST" ? body : query;
    if (m_firmware == Firmware::Maker && path.startsWith("/web/")) {
        // Its "extended security": these three take arguments by POST only, and every call
        // but the session's wants the session it handed out.
        const bool postOnly
            = path == "/web/message" || path == "/web/powerstate" || path == "/web/messageanswer";
        if (postOnly && method == "GET" && !query.isEmpty())
            return response(405, "Method Not Allowed", "", "Allow: POST\r\n");
        if (!m_sessions.contains(decodeQuery(form).value(QStringLiteral("sessionid"))))
            return response(
                412, "Precondition Failed", "sessionid is missing, invalid or expired\n");
    }
    if (path == "/web/about")
        return about();
    if (path == "/web/powerstate")
        return powerState(decodeQuery(form).value(QStringLiteral("newstate")));
    if (path == "/web/messageanswer")
        return lastAnswer();
    if (path != "/web/message")
        return notFound;
    return webMessage(form);
}

QByteArray ReceiverSim::webMessage(const QByteArray &form)
{
    const QHash<QString, QString> values = decodeQuery(form);
    const QString text = values.value(QStringLiteral("text"));
    const QString type = values.value(QStringLiteral("type"));
    if (text.isEmpty())
        return stateAnswer(false, "No Messagetext given");
    bool isNumber = false;
    type.toInt(&isNumber);
    if (!isNumber)
        return stateAnswer(false, "type " + type.toUtf8() + " is not a number");
    emit boxShown(type, values.value(QStringLiteral("timeout")), text);
    if (type.toInt() == 0)
        ask(values.value(QStringLiteral("timeout")));
    return stateAnswer(true, "Message sent successfully!");
}

void ReceiverSim::scriptAnswer(Reply reply, std::chrono::milliseconds after)
{
    m_script = reply;
    m_scriptAfter = after;
}

void ReceiverSim::setAnswerTexts(const QString &yes, const QString &no, const QString &noneYet)
{
    m_yes = yes;
    m_no = no;
    m_noneYet = noneYet;
}

void ReceiverSim::leaveAnswer(Reply reply)
{
    m_lastReply = reply == Reply::None ? std::nullopt : std::optional(reply == Reply::Yes);
}

// A yes/no box is on the screen from now on, answered as scripted or by its own time-out.
void ReceiverSim::ask(const QString &timeout)
{
    const int question = ++m_questions;
    m_questionOpen = true;
    if (m_firmware == Firmware::OpenWebif)
        m_lastReply.reset();
    if (m_script != Reply::None)
        QTimer::singleShot(m_scriptAfter, this, [this, question] {
            answerQuestion(question, m_script, QStringLiteral("as scripted"));
        });
    bool isNumber = false;
    const int seconds = timeout.toInt(&isNumber);
    if (isNumber && seconds > 0)
        QTimer::singleShot(std::chrono::seconds(seconds), this, [this, question, seconds] {
            answerQuestion(question,
                           Reply::Yes,
                           QStringLiteral("by itself, when its %1 seconds ran out").arg(seconds));
        });
}

void ReceiverSim::answerQuestion(int question, Reply reply, const QString &how)
{
    if (question != m_questions || !m_questionOpen)
        return;
    m_questionOpen = false;
    m_lastReply = reply == Reply::Yes;
    emit questionAnswered(reply == Reply::Yes ? QStringLiteral("yes") : QStringLiteral("no"), how);
}

// The one last answer. The maker's interface forgets it once it has been read.
QByteArray ReceiverSim::lastAnswer()
{
    const std::optional<bool> reply = m_lastReply;
    if (m_firmware == Firmware::Maker)
        m_lastReply.reset();
    if (!reply)
        return stateAnswer(false, m_noneYet.toUtf8());
    return stateAnswer(true, (*reply ? m_yes : m_no).toUtf8());
}

// What the receiver is: its Enigma2 version, and which web interface answers.
QByteArray ReceiverSim::about() const
{
    const QByteArray webInterface
        = m_firmware == Firmware::OpenWebif ? "OWIF 1.5.2" : "1.8.2 (maker's web interface)";
    return response(200,
                    "OK",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<e2abouts>\n<e2about>\n"
                    "<e2enigmaversion>2026-11-30</e2enigmaversion>\n<e2webifversion>"
                        + webInterface
                        + "</e2webifversion>\n<e2model>simulator</e2model>\n<e2lanmac>"
                        + m_hardwareAddress.toLatin1()
                        + "</e2lanmac>\n<e2lanip>127.0.0.1</e2lanip>\n</e2about>\n"
                          "</e2abouts>\n",
                    "Content-Type: application/xhtml+xml\r\n");
}

void ReceiverSim::setStandby(bool standby, std::chrono::milliseconds wakeAfter)
{
    m_standby = standby;
    m_wakeAfter = wakeAfter;
}

// Only 4 (wake up) and 5 (standby) change anything here; a receiver would also toggle (0), go to
// deep standby (1) or restart (2, 3), which nothing here should ever ask for.
QByteArray ReceiverSim::powerState(const QString &newState)
{
    m_powerRequests += newState;
    if (newState == QLatin1String("4") && m_standby)
        QTimer::singleShot(m_wakeAfter, this, [this] { m_standby = false; });
    if (newState == QLatin1String("5"))
        m_standby = true;
    return response(200,
                    "OK",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<e2powerstate>\n\t<e2instandby>\n"
                    "\t\t"
                        + QByteArray(m_standby ? "true" : "false")
                        + "\t\n\t</e2instandby>\n</e2powerstate>\n",
                    "Content-Type: application/xhtml+xml\r\n");
}

QByteArray ReceiverSim::stateAnswer(bool state, const QByteArray &text)
{
    return response(200,
                    "OK",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<e2simplexmlresult>\n<e2state>"
                        + QByteArray(state ? "True" : "False") + "</e2state>\n<e2statetext>"
                        + QString::fromUtf8(text).toHtmlEscaped().toUtf8()
                        + "</e2statetext>\n</e2simplexmlresult>\n",
                    "Content-Type: application/xhtml+xml\r\n");
}

QByteArray ReceiverSim::response(int status,
                                 const QByteArray &reason,
                                 const QByteArray &body,
                                 const QByteArray &headers)
{
    const QByteArray type = headers.contains("Content-Type:") ? "" : "Content-Type: text/plain\r\n";
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n" + type
           + "Content-Length: " + QByteArray::number(body.size()) + "\r\n" + headers + "\r\n"
           + body;
}
