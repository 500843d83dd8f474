#pragma once

#include "DnsMessage.h"
#include "Transfer.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <chrono>
#include <functional>

class HttpExchange;
class QUdpSocket;

// Finds the receivers on the local network by multicast DNS service discovery (RFC 6762 and
// 6763), asking for _e2stream._tcp (every Enigma2 receiver), _http._tcp and _https._tcp (their
// web interfaces). It asks from a port of its own, so that the responders already running on
// the machine (Avahi, Windows' own) keep theirs, and each answers it directly (RFC 6762, 6.7).
// A web interface counts as a receiver's only when one GET /web/about names the receiver's
// Enigma2 version; nothing else is asked of any host, and nothing is shown on any TV. What is
// heard is merged by address: one receiver, one line.
class ReceiverFinder : public QObject
{
    Q_OBJECT

public:
    using Trace = std::function<void(const QString &line)>;

    // The whole search, confirmations included, ends within this.
    static constexpr std::chrono::milliseconds Within{2900};

    explicit ReceiverFinder(QObject *parent = nullptr);
    ~ReceiverFinder() override;

    // Asks at this address and port alone instead of the multicast DNS group on every network:
    // for trying it on this machine.
    void setTarget(const QHostAddress &address, quint16 port);

    // Told each question asked and each announcement and confirmation heard.
    void setTrace(Trace trace) { m_trace = std::move(trace); }

    void start();

signals:
    void found(const FoundReceiver &receiver);
    void finished();

private:
    // A web interface announced on a receiver's address, and what asking it found.
    struct Web
    {
        enum class State { Asking, Receiver, Other };
        bool tls = false;
        quint16 port = 0;
        QString instance;           // as announced
        bool openWebifText = false; // its TXT record says OpenWebif
        State state = State::Asking;
        QString kind; // "openwebif" or "maker", once it is known to be a receiver
    };

    // Everything heard of one host: merged by its address and name.
    struct Box
    {
        QHostAddress address;
        QString hostName;   // as announced
        QString streamName; // the instance name of its _e2stream._tcp, if it has one
        QList<Web> webs;
        bool listed = false;
    };

    void ask(const Dns::Name &name, quint16 type);
    void receive();
    void resolve();
    void confirm(qsizetype box, qsizetype web);
    void judge(qsizetype box, qsizetype web, const QString &kind);
    void listIfDecided(Box &box, bool final);
    void finish();
    void trace(const QString &line) const;
    const Dns::Record *recordOf(const Dns::Name &name, quint16 type) const;

    QUdpSocket *m_socket;
    QHostAddress m_target;
    quint16 m_targetPort = 0;
    Trace m_trace;
    QList<Dns::Record> m_records; // every record heard, once
    QSet<QString> m_asked;        // questions asked: name and type
    QList<Box> m_boxes;
    QHash<std::pair<qsizetype, qsizetype>, HttpExchange *> m_confirming; // by box and web
    QTimer m_again; // asks the services once more, for an answer that was lost
    QTimer m_quiet; // when nothing more is expected to come
    QTimer m_end;   // when the whole search ends, confirmations included
    bool m_finished = false;
};
