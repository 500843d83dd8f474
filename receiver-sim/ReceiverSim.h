#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QTcpServer>

class QTcpSocket;

// A stand-in for the receiver's web interface, in one of the firmware kinds receivers run:
// - First: the first generation, /cgi-bin/xmessage?timeout=…&caption=…&body=… answered "+ok";
// - OpenWebif: the second generation with the widespread web interface, /web/message by GET or
//   POST, no sessions;
// - Maker: the second generation with the maker's own web interface, /web/message by POST only
//   and with a session id from /web/session.
// With a login set it demands HTTP Basic authentication in every kind.
class ReceiverSim : public QTcpServer
{
    Q_OBJECT

public:
    enum class Firmware { First, OpenWebif, Maker };

    explicit ReceiverSim(Firmware firmware = Firmware::First, QObject *parent = nullptr);

    void requireLogin(const QString &user, const QString &password);

    // A request line longer than this (0: no limit) is not read: the connection is dropped
    // without an answer, as the web server of second-generation receivers does past 16 KiB.
    void setMaxLine(qsizetype bytes) { m_maxLine = bytes; }

    // Session ids handed out so far stop being valid, as after the receiver's session expired.
    void expireSessions() { m_sessions.clear(); }

    // Every request that arrived, head and body as raw bytes, oldest first.
    const QList<QByteArray> &requests() const { return m_requests; }

    // The value of the named header in a request head, or nothing.
    static QByteArray header(const QByteArray &request, const QByteArray &name);

    // A query or form decoded as the receiver does: pairs split at '&' and '=', "%XX" to bytes,
    // '+' to a space, the bytes read as UTF-8.
    static QHash<QString, QString> decodeQuery(const QByteArray &query);

signals:
    // A first-generation message, as the request gave it.
    void messageReceived(const QString &timeout, const QString &caption, const QString &body);
    // A second-generation message box: its type, how long it stays and its text.
    void boxShown(const QString &type, const QString &timeout, const QString &text);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

    // Answers one whole request (head and body) on its connection.
    virtual void reply(QTcpSocket *socket, const QByteArray &request);

    // The whole HTTP answer to one request; an empty one leaves the request unanswered.
    virtual QByteArray answer(const QByteArray &request);

    static QByteArray response(int status,
                               const QByteArray &reason,
                               const QByteArray &body,
                               const QByteArray &headers = {});

private:
    QByteArray webMessage(const QByteArray &method, const QByteArray &query);
    static QByteArray stateAnswer(bool state, const QByteArray &text);

    Firmware m_firmware;
    QByteArray m_login;       // "user:password", or empty when none is needed
    QSet<QString> m_sessions; // ids handed out and still valid
    int m_sessionCount = 0;
    qsizetype m_maxLine = 0;
    QList<QByteArray> m_requests;
};
