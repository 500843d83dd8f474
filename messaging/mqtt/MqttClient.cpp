#include "MqttClient.h"

#include <QCryptographicHash>
#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>

namespace {

// Why the broker refused the connection, by the code its answer gave.
QString refusal(int code)
{
    switch (code) {
    case 1:
        return QStringLiteral("the broker does not speak MQTT 3.1.1");
    case 2:
        return QStringLiteral("the broker refused the client id: choose another ClientId");
    case 3:
        return QStringLiteral("the broker is not taking connections at the moment");
    case 4:
        return QStringLiteral("the broker refused the user name or password: check User and "
                              "Password");
    case 5:
        return QStringLiteral("the broker refused the connection: this user is not allowed in");
    default:
        return QStringLiteral("the broker refused the connection with code %1").arg(code);
    }
}

qint64 seconds(std::chrono::milliseconds duration)
{
    return std::chrono::duration_cast<std::chrono::seconds>(duration).count();
}

} // namespace

MqttClient::MqttClient(Options options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
{
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &MqttClient::connectNow);
    connect(&m_keepAlive, &QTimer::timeout, this, &MqttClient::ping);
    m_answerTimer.setSingleShot(true);
    connect(&m_answerTimer, &QTimer::timeout, this, [this] {
        drop(QStringLiteral("the broker did not answer within %1 s")
                 .arg(seconds(m_options.answerWithin)));
    });
}

MqttClient::~MqttClient()
{
    if (m_socket) { // gone without a word: the broker publishes the will
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void MqttClient::start()
{
    m_stopping = false;
    connectNow();
}

void MqttClient::connectNow()
{
    ++m_connection;
    m_buffer.clear();
    m_skip = 0;
    m_socket = m_options.tls ? new QSslSocket(this) : new QTcpSocket(this);
    // What waits beyond a slice stays with the broker: TCP holds it back.
    m_socket->setReadBufferSize(ReadAtOnce);
    connect(m_socket, &QTcpSocket::readyRead, this, [this] {
        if (!m_readLater) // else the slice to come reads it
            read();
    });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        drop(QStringLiteral("the broker closed the connection"));
    });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        drop(error == QAbstractSocket::RemoteHostClosedError
                 ? QStringLiteral("the broker closed the connection")
                 : m_socket->errorString());
    });
    m_answerTimer.start(m_options.answerWithin);
    if (auto *tls = qobject_cast<QSslSocket *>(m_socket)) {
        connect(tls, &QSslSocket::sslErrors, this, &MqttClient::judgeCertificate);
        connect(tls, &QSslSocket::encrypted, this, &MqttClient::opened);
        tls->connectToHostEncrypted(m_options.host, m_options.port);
    } else {
        connect(m_socket, &QTcpSocket::connected, this, &MqttClient::opened);
        m_socket->connectToHost(m_options.host, m_options.port);
    }
}

// The system's trust store did not accept the broker's certificate: its fingerprint may.
void MqttClient::judgeCertificate()
{
    auto *tls = static_cast<QSslSocket *>(m_socket.data());
    const QByteArray shown = tls->peerCertificate().digest(QCryptographicHash::Sha256);
    if (!m_options.fingerprint.isEmpty() && shown == m_options.fingerprint) {
        tls->ignoreSslErrors();
        return;
    }
    drop(QStringLiteral("the broker's certificate is not trusted (SHA-256 %1): trust it with "
                        "Fingerprint= in [MQTT]")
             .arg(QString::fromLatin1(shown.toHex(':').toUpper())));
}

void MqttClient::opened()
{
    write(MqttPacket::connect(m_options.connect));
}

// A broker that floods is read a slice at a time, so that whatever else the program does gets
// its turn in between: so many bytes kept at most, so many steps, then the rest on the next turn.
void MqttClient::read()
{
    m_readLater = false;
    for (int step = 0; m_socket && step < StepsAtOnce; ++step) {
        if (m_buffer.size() < ReadAtOnce && m_socket->bytesAvailable() > 0)
            m_buffer += m_socket->read(ReadAtOnce - m_buffer.size());
        if (m_skip > 0) {
            const qsizetype skipped = std::min(m_skip, m_buffer.size());
            m_buffer.remove(0, skipped);
            m_skip -= skipped;
            if (m_skip > 0 && m_socket->bytesAvailable() == 0)
                return; // the rest comes with readyRead
            continue;
        }
        const MqttPacket::Read packet = MqttPacket::take(m_buffer);
        if (std::holds_alternative<MqttPacket::NeedMore>(packet)) {
            if (m_socket->bytesAvailable() == 0)
                return;
            continue;
        }
        handle(packet);
    }
    if (m_socket && !std::exchange(m_readLater, true))
        QTimer::singleShot(0, this, &MqttClient::read);
}

void MqttClient::handle(const MqttPacket::Read &packet)
{
    using namespace MqttPacket;
    if (const auto *ack = std::get_if<ConnAck>(&packet)) {
        if (ack->code != 0)
            return drop(refusal(ack->code));
        if (m_options.subscriptions.isEmpty())
            return subscribed();
        m_subscribeId = nextId();
        write(subscribe(m_subscribeId, m_options.subscriptions));
    } else if (const auto *ack = std::get_if<SubAck>(&packet)) {
        if (ack->packetId != m_subscribeId)
            return;
        for (qsizetype i = 0; i < ack->granted.size(); ++i)
            if (ack->granted[i] == 0x80)
                return drop(QStringLiteral("the broker refused the subscription to %1: check "
                                           "its access list")
                                .arg(m_options.subscriptions.value(i).filter));
        subscribed();
    } else if (const auto *publish = std::get_if<Publish>(&packet)) {
        emit received({*publish, publish->payload.size(), m_connection});
    } else if (const auto *oversized = std::get_if<Oversized>(&packet)) {
        m_skip = oversized->toSkip;
        emit received({oversized->head, oversized->size, m_connection});
    } else if (const auto *ack = std::get_if<PubAck>(&packet)) {
        m_inFlight.remove(ack->packetId);
        if (m_stopping && m_inFlight.isEmpty())
            drop({});
    } else if (std::holds_alternative<PingResp>(packet)) {
        m_pingOutstanding = false;
    } else if (const auto *malformed = std::get_if<Malformed>(&packet)) {
        drop(QStringLiteral("the broker sent %1").arg(malformed->why));
    }
}

void MqttClient::subscribed()
{
    m_answerTimer.stop();
    m_connected = true;
    m_pause = std::chrono::milliseconds(0);
    m_keepAlive.start(std::chrono::seconds(m_options.connect.keepAlive));
    // What the broker may not have yet: sent again over the new connection, then what waited.
    QList<quint16> ids = m_inFlight.keys();
    std::sort(ids.begin(), ids.end());
    for (const quint16 id : std::as_const(ids)) {
        MqttPacket::Publish again = m_inFlight.value(id);
        again.duplicate = true;
        write(MqttPacket::publish(again));
    }
    for (const MqttPacket::Publish &publish : std::exchange(m_unsent, {}))
        sendPublish(publish);
    emit connected();
}

void MqttClient::ping()
{
    if (m_pingOutstanding)
        return drop(QStringLiteral("the broker did not answer a ping within %1 s")
                        .arg(m_options.connect.keepAlive));
    m_pingOutstanding = true;
    write(MqttPacket::pingreq());
}

void MqttClient::drop(const QString &why)
{
    const bool wasOpen = m_socket != nullptr;
    if (m_socket) {
        m_socket->disconnect(this);
        if (m_stopping && m_socket->state() == QAbstractSocket::ConnectedState) {
            m_socket->write(MqttPacket::disconnect()); // a goodbye: the broker drops the will
            m_socket->flush();
            m_socket->disconnectFromHost();
        } else {
            m_socket->abort();
        }
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    m_connected = false;
    m_pingOutstanding = false;
    m_keepAlive.stop();
    m_answerTimer.stop();
    if (m_stopping) {
        m_retry.stop();
        if (m_stopped)
            std::exchange(m_stopped, {})();
        return;
    }
    if (wasOpen)
        emit lost(why);
    m_pause = m_pause.count() == 0 ? m_options.firstPause
                                   : std::min(m_pause * 2, m_options.longestPause);
    m_retry.start(m_pause);
}

void MqttClient::stop(std::function<void()> done)
{
    m_stopping = true;
    m_stopped = std::move(done);
    m_retry.stop();
    if (!m_connected || m_inFlight.isEmpty())
        return drop({});
    QTimer::singleShot(1000, this, [this] {
        if (m_stopping && m_stopped)
            drop({});
    });
}

void MqttClient::write(const QByteArray &bytes)
{
    if (m_socket)
        m_socket->write(bytes);
}

void MqttClient::publish(const QString &topic, const QByteArray &payload, int qos, bool retain)
{
    MqttPacket::Publish publish{topic, payload, qos, retain, false, 0};
    if (m_connected)
        return sendPublish(publish);
    if (qos == 0)
        return;
    if (retain) // only the newest of a kept topic matters
        m_unsent.removeIf([&topic](const MqttPacket::Publish &earlier) {
            return earlier.retain && earlier.topic == topic;
        });
    if (m_unsent.size() >= MaxUnsent)
        m_unsent.removeFirst();
    m_unsent += publish;
}

void MqttClient::sendPublish(MqttPacket::Publish publish)
{
    if (publish.qos > 0) {
        if (m_inFlight.size() >= MaxUnsent) // a broker that stopped acknowledging
            m_inFlight.erase(m_inFlight.begin());
        publish.packetId = nextId();
        m_inFlight.insert(publish.packetId, publish);
    }
    write(MqttPacket::publish(publish));
}

void MqttClient::acknowledge(const Received &received)
{
    if (received.publish.qos == 1 && received.connection == m_connection && m_socket)
        write(MqttPacket::puback(received.publish.packetId));
}

quint16 MqttClient::nextId()
{
    do
        ++m_lastId;
    while (m_lastId == 0 || m_inFlight.contains(m_lastId) || m_lastId == m_subscribeId);
    return m_lastId;
}
