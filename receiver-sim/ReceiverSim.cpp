#include "ReceiverSim.h"

#include <QTcpSocket>
#include <QUrl>

void ReceiverSim::requireLogin(const QString &user, const QString &password)
{
    m_login = (user + QLatin1Char(':') + password).toUtf8();
}

QByteArray ReceiverSim::header(const QByteArray &head, const QByteArray &name)
{
    const QList<QByteArray> lines = head.split('\n');
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
            // One connection may carry several requests; a GET has no body.
            for (qsizetype end; (end = pending.indexOf("\r\n\r\n")) >= 0;) {
                const QByteArray head = pending.left(end + 4);
                pending.remove(0, end + 4);
                m_requests.append(head);
                socket->write(answer(head));
            }
        });
}

QByteArray ReceiverSim::answer(const QByteArray &head)
{
    const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
    const QByteArray target = requestLine.value(1);
    const qsizetype question = target.indexOf('?');
    if (requestLine.value(0) != "GET" || target.left(question) != "/cgi-bin/xmessage")
        return response(404, "Not Found", "Not Found\n");
    if (!m_login.isEmpty() && header(head, "Authorization") != "Basic " + m_login.toBase64())
        return response(401, "Unauthorized", "", "WWW-Authenticate: Basic realm=\"receiver\"\r\n");

    const QHash<QString, QString> query
        = decodeQuery(question < 0 ? QByteArray() : target.mid(question + 1));
    emit messageReceived(query.value(QStringLiteral("timeout")),
                         query.value(QStringLiteral("caption")),
                         query.value(QStringLiteral("body")));
    return response(200, "OK", "+ok\n");
}

QByteArray ReceiverSim::response(int status,
                                 const QByteArray &reason,
                                 const QByteArray &body,
                                 const QByteArray &headers)
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason
           + "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size())
           + "\r\n" + headers + "\r\n" + body;
}
