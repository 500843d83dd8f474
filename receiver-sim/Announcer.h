#pragma once

#include "SimDns.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

class QUdpSocket;

// Announces a receiver on this machine by multicast DNS, with the records receivers send: its
// stream service _e2stream._tcp on port 8001, without a TXT record, and its web interface as
// _http._tcp (or _https._tcp), whose TXT record says "OpenWebif" for that interface. The host is
// 127.0.0.1, where the simulator listens, so it answers only questions from this machine, and
// speaks up unasked only on the loopback network: nothing of it reaches other machines.
class Announcer : public QObject
{
    Q_OBJECT

public:
    enum class Interface { OpenWebif, Maker };

    Announcer(const QString &name,
              Interface webInterface,
              bool tls,
              quint16 webPort,
              QObject *parent = nullptr);

    // Answers on the multicast DNS port beside the responders already there, and announces
    // itself. Returns why it can't, or empty.
    QString start();

    // Whether the stream service is announced too (by default it is, as by every receiver); a
    // web server that is no receiver's announces only itself.
    void setStream(bool stream) { m_stream = stream; }

    // Answers only questions sent to this address and port, without multicast: for tests.
    bool listenAt(const QHostAddress &address, quint16 port = 0);
    quint16 port() const;

    // The datagram that answers a query, or empty when nothing asked is ours. A question from
    // another port than 5353 (legacy) gets a conventional unicast answer (RFC 6762, 6.7).
    QByteArray reply(QByteArrayView query, bool legacy) const;

private:
    // The records that answer a query's questions, with what a querier needs next; none when
    // nothing asked is ours.
    QList<SimDns::Record> answer(const SimDns::Query &query) const;
    QList<SimDns::Record> records() const;
    void receive();
    void announce();
    void sendToGroup(const QByteArray &datagram);

    QString m_name;
    Interface m_webInterface;
    bool m_tls;
    quint16 m_webPort;
    QUdpSocket *m_socket;
    bool m_multicast = false;
    bool m_stream = true;
};
