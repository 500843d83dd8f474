#pragma once

#include "DnsMessage.h"
#include "FoundReceiver.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QNetworkAddressEntry>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

class HttpExchange;
struct HttpOutcome;
class QNetworkDatagram;
class QUdpSocket;

// Whether an answer from source, heard on a network with these addresses, comes from that
// network itself: from one of its subnets, or from a link-local address. Answers from anywhere
// else are not multicast DNS answers at all, whatever they say.
bool IsFromLocalLink(const QHostAddress &source, const QList<QNetworkAddressEntry> &network);

// Whether an address that an answer names may be asked: a unicast address in a subnet of the
// network the answer came on (these addresses), not that subnet's own or broadcast address; a
// loopback address only on the loopback network itself. Anything else would have the search
// ask hosts that are not receivers on this link: this machine, other networks, every host.
bool IsOnLink(const QHostAddress &address, const QList<QNetworkAddressEntry> &network);

// Finds the receivers on the local network by multicast DNS service discovery (RFC 6762 and
// 6763), asking for _e2stream._tcp (every Enigma2 receiver), _http._tcp and _https._tcp (their
// web interfaces). It asks from a port of its own, so that the responders already running on
// the machine (Avahi, Windows' own) keep theirs, and each answers it directly (RFC 6762, 6.7).
// A web interface counts as a receiver's only when one GET /web/about names the receiver's
// Enigma2 version; nothing else is asked of any host, and nothing is shown on any TV. What is
// heard is merged by address: one receiver, one line.
//
// Anybody on the network may answer, and answer anything: only answers from the local network
// that carry the search's query id are heard, and every limit below holds whatever comes, so
// that a search stays small and ends in time. Each datagram costs work in proportion to its own
// size, never to what was heard before it.
class ReceiverFinder : public QObject
{
    Q_OBJECT

public:
    using Trace = std::function<void(const QString &line)>;

    // The whole search, confirmations included, ends within this.
    static constexpr std::chrono::milliseconds Within{2900};
    static constexpr int MaxListed = 64;      // receivers listed
    static constexpr int MaxConfirming = 8;   // GET /web/about under way at once
    static constexpr int MaxHosts = 128;      // hosts whose web interfaces may be asked
    static constexpr int MaxAddresses = 4;    // addresses kept for one host name
    static constexpr int MaxRecords = 1000;   // records kept of one sender, of every kind
    static constexpr int MaxSenders = 64;     // senders whose records are kept
    static constexpr int MaxDatagram = 9000;  // bytes of one datagram read
    static constexpr int MaxFollowUps = 64;   // questions asked for records still missing
    static constexpr int DatagramsAtOnce = 8; // read before the event loop has its turn again

    explicit ReceiverFinder(QObject *parent = nullptr);
    ~ReceiverFinder() override;

    // Asks at this address and port alone instead of the multicast DNS group on every network,
    // and hears answers from there alone: for trying it on this machine.
    void setTarget(const QHostAddress &address, quint16 port);

    // How long the whole search lasts (Within unless told): a test on a busy machine gives
    // itself more.
    void setWithin(std::chrono::milliseconds within) { m_within = within; }
    // How long it listens before it may end early, once nothing is being confirmed (1.5 s
    // unless told): a test that answers in several datagrams gives itself more.
    void setListening(std::chrono::milliseconds listening) { m_listening = listening; }

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
        enum class State { Waiting, Asking, Receiver, Other };
        bool tls = false;
        quint16 port = 0;
        QString instance;           // as announced
        bool openWebifText = false; // its TXT record says OpenWebif
        State state = State::Waiting;
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

    // A service instance that a pointer named, until it is put together.
    struct Instance
    {
        QString service;
        Dns::Name name;
        QString from; // who announced it: only its own records complete it
        bool done = false;
    };

    // The network an answer came on, and who sent it.
    struct Heard
    {
        QString from;
        QList<QNetworkAddressEntry> link;
    };

    // An address heard for a host name, and in which datagram.
    struct Address
    {
        QHostAddress ip;
        quint64 heardIn = 0;
    };

    void ask(const Dns::Name &name, quint16 type);
    void askAgain(const Dns::Name &name, quint16 type);
    void receive();
    std::optional<Heard> heard(const QNetworkDatagram &datagram, const Dns::Message &message) const;
    bool keep(const Heard &heard);
    void take(const Dns::Record &record, const Heard &heard, QSet<QString> &touched);
    void takeAddress(const Dns::Record &record, const Heard &heard, QSet<QString> &touched);
    void forget(const Dns::Record &record, const Heard &heard);
    void resolve(const QString &instanceKey);
    void confirm(qsizetype box, qsizetype web, const QString &session = {});
    void judged(qsizetype box, qsizetype web, const HttpOutcome &outcome);
    QString originOf(qsizetype box, qsizetype web) const;
    void askWeb(std::pair<qsizetype, qsizetype> which,
                const QByteArray &target,
                const std::function<void(const HttpOutcome &)> &then);
    void confirmWaiting();
    void judge(qsizetype box, qsizetype web, const QString &kind);
    void listIfDecided(Box &box, bool final);
    void finishWhenDone();
    void finish();
    void trace(const QString &line) const;
    void limitReached(const QString &which);
    const Dns::Record *recordOf(const QString &instanceKey, quint16 type) const;

    QUdpSocket *m_socket;
    QHostAddress m_target;
    quint16 m_targetPort = 0;
    quint16 m_queryId = 0; // of every question of this search
    Trace m_trace;
    quint64 m_datagrams = 0; // heard so far
    std::chrono::milliseconds m_within = Within;
    std::chrono::milliseconds m_listening;
    // Everything heard is kept by sender: its address, then the name in lower case.
    QHash<QString, int> m_recordCount;             // records kept, by sender
    QSet<QByteArray> m_heard;                      // every record kept, once
    QHash<QString, QList<Dns::Record>> m_records;  // SRV and TXT, by instance
    QHash<QString, QList<Address>> m_addresses;    // by host name
    QHash<QString, Instance> m_instances;          // by name
    QHash<QString, QSet<QString>> m_hostInstances; // instances waiting for their host's address
    QSet<QString> m_asked;                         // questions asked: name and type
    int m_followUps = 0;
    QSet<QString> m_limits; // limits reached, told once each
    QList<Box> m_boxes;
    QHash<std::pair<qsizetype, qsizetype>, HttpExchange *> m_confirming; // by box and web
    QList<std::pair<qsizetype, qsizetype>> m_waiting; // to be asked when a place is free
    int m_listed = 0;
    QTimer m_again;    // asks the services once more, for an answer that was lost
    QTimer m_quiet;    // when nothing more is expected to come
    QTimer m_end;      // when the whole search ends, confirmations included
    QTimer m_readMore; // what is still waiting on the socket, after the event loop's turn
    bool m_finished = false;
};
