#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QTcpServer>

// A stand-in for the receiver's web interface: takes /cgi-bin/xmessage?timeout=…&caption=…&body=…
// and answers "+ok"; with a login set it demands HTTP Basic authentication first.
class ReceiverSim : public QTcpServer
{
    Q_OBJECT

public:
    using QTcpServer::QTcpServer;

    void requireLogin(const QString &user, const QString &password);

    // Every request head that arrived, as raw bytes, oldest first.
    const QList<QByteArray> &requests() const { return m_requests; }

    // The value of the named header in a request head, or nothing.
    static QByteArray header(const QByteArray &head, const QByteArray &name);

    // A query decoded as the receiver does: pairs split at '&' and '=', "%XX" to bytes, '+' to a
    // space, the bytes read as UTF-8.
    static QHash<QString, QString> decodeQuery(const QByteArray &query);

signals:
    void messageReceived(const QString &timeout, const QString &caption, const QString &body);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

    // The whole HTTP answer to one request; an empty one leaves the request unanswered.
    virtual QByteArray answer(const QByteArray &head);

    static QByteArray response(int status,
                               const QByteArray &reason,
                               const QByteArray &body,
                               const QByteArray &headers = {});

private:
    QByteArray m_login; // "user:password", or empty when none is needed
    QList<QByteArray> m_requests;
};
