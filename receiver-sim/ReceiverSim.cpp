#include "ReceiverSim.h"

#include <QTcpSocket>

ReceiverSim::ReceiverSim(Firmware firmware, QObject *parent)
    : QTcpServer(parent)
    , m_firmware(firmware)
    , m_maxLine(firmware == Firmware::First ? 0 : 16 * 1024)
{}

void ReceiverSim::requireLogin(const QString &user, const QString &password)
{
    m_login = (user + QLatin1Char(':') + password).toUtf8();
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
    auto *socket = new QTcpSocket(this);
    socket->setSocketDescriptor(socketDescriptor);
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
                const qsizetype size = end + 4 + header(pending, "Content-Length").toLongLong();
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
    if (path != "/web/message")
        return notFound;
    if (method == "POST")
        return webMessage(method, body);
    if (m_firmware == Firmware::Maker)
        return response(405, "Method Not Allowed", "", "Allow: POST\r\n");
    return webMessage(method, query);
}

QByteArray ReceiverSim::webMessage(const QByteArray &method, const QByteArray &form)
{
    const QHash<QString, QString> values = decodeQuery(form);
    if (m_firmware == Firmware::Maker && method == "POST"
        && !m_sessions.contains(values.value(QStringLiteral("sessionid"))))
        return response(412, "Precondition Failed", "session id missing or invalid\n");
    const QString text = values.value(QStringLiteral("text"));
    const QString type = values.value(QStringLiteral("type"));
    if (text.isEmpty())
        return stateAnswer(false, "No Messagetext given");
    bool isNumber = false;
    type.toInt(&isNumber);
    if (!isNumber)
        return stateAnswer(false, "type " + type.toUtf8() + " is not a number");
    emit boxShown(type, values.value(QStringLiteral("timeout")), text);
    return stateAnswer(true, "Message sent successfully!");
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
