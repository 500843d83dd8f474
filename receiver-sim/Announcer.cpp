#include "Announcer.h"
#include "Multicast.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>

namespace {

constexpr quint16 StreamPort = 8001;
constexpr quint32 Ttl = 120;
constexpr quint32 LegacyTtl = 10; // at most, for answers to ports other than 5353

bool matches(const Dns::Question &question, const Dns::Record &record)
{
    return (question.type == record.type || question.type == Dns::ANY)
           && Dns::sameName(question.name, record.name);
}

// Sent to the group, the records are the only ones of their name and type, so that queriers
// flush older ones; a service's pointers are shared with other instances.
void markUnique(QList<Dns::Record> &records)
{
    for (Dns::Record &record : records)
        if (record.type != Dns::PTR)
            record.rrClass |= Dns::TopBit;
}

} // namespace

Announcer::Announcer(
    const QString &name, Interface webInterface, bool tls, quint16 webPort, QObject *parent)
    : QObject(parent)
    , m_name(name)
    , m_webInterface(webInterface)
    , m_tls(tls)
    , m_webPort(webPort)
    , m_socket(new QUdpSocket(this))
{
    connect(m_socket, &QUdpSocket::readyRead, this, &Announcer::receive);
}

QList<Dns::Record> Announcer::records() const
{
    // The host name is the receiver's name in letters, digits and hyphens.
    QString host = m_name;
    host.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9-]+")), QStringLiteral("-"));
    const Dns::Name hostName{host, QStringLiteral("local")};
    const QString web = m_tls ? QStringLiteral("_https") : QStringLiteral("_http");
    const Dns::Name webService{web, QStringLiteral("_tcp"), QStringLiteral("local")};
    const Dns::Name streamService{
        QStringLiteral("_e2stream"), QStringLiteral("_tcp"), QStringLiteral("local")};
    const Dns::Name webInstance = Dns::Name{m_name} + webService;
    const Dns::Name streamInstance = Dns::Name{m_name} + streamService;
    const auto record = [](const Dns::Name &name, quint16 type) {
        Dns::Record made;
        made.name = name;
        made.type = type;
        made.ttl = Ttl;
        return made;
    };
    QList<Dns::Record> all;
    // A service's pointer to its instance, and where the instance answers.
    const auto announce = [&](const Dns::Name &service, const Dns::Name &instance, quint16 port) {
        Dns::Record pointer = record(service, Dns::PTR);
        pointer.target = instance;
        all.append(pointer);
        Dns::Record server = record(instance, Dns::SRV);
        server.target = hostName;
        server.port = port;
        all.append(server);
    };
    if (m_stream)
        announce(streamService, streamInstance, StreamPort);
    announce(webService, webInstance, m_webPort);
    Dns::Record text = record(webInstance, Dns::TXT);
    if (m_webInterface == Interface::OpenWebif)
        text.texts = {"OpenWebif"};
    all.append(text);
    Dns::Record address = record(hostName, Dns::A);
    address.address = QHostAddress(QHostAddress::LocalHost);
    all.append(address);
    return all;
}

Dns::Message Announcer::answer(const Dns::Message &query, bool legacy) const
{
    Dns::Message answer;
    answer.flags = 0x8400; // a response, with authority
    const QList<Dns::Record> ours = records();
    QList<Dns::Record> answers;
    for (const Dns::Question &question : query.questions)
        for (const Dns::Record &record : ours)
            if (matches(question, record))
                answers.append(record);
    if (answers.isEmpty())
        return answer;
    // What a querier needs next: the instance's host and port and text, the host's address.
    QList<Dns::Record> additional;
    const auto add = [&](const Dns::Record &record) {
        const auto same = [&record](const Dns::Record &known) {
            return known.type == record.type && Dns::sameName(known.name, record.name)
                   && known.target == record.target;
        };
        if (std::none_of(answers.cbegin(), answers.cend(), same)
            && std::none_of(additional.cbegin(), additional.cend(), same))
            additional.append(record);
    };
    for (qsizetype i = 0; i < answers.size() + additional.size(); ++i) {
        const Dns::Record &given = i < answers.size() ? answers[i] : additional[i - answers.size()];
        for (const Dns::Record &record : ours) {
            const bool follows = (given.type == Dns::PTR && Dns::sameName(record.name, given.target)
                                  && (record.type == Dns::SRV || record.type == Dns::TXT))
                                 || (given.type == Dns::SRV && record.type == Dns::A
                                     && Dns::sameName(record.name, given.target));
            if (follows)
                add(record);
        }
    }
    answer.records = answers + additional;
    if (legacy) {
        answer.id = query.id;
        answer.questions = query.questions;
        for (Dns::Record &record : answer.records)
            record.ttl = std::min(record.ttl, LegacyTtl);
    } else {
        markUnique(answer.records);
    }
    return answer;
}

QString Announcer::start()
{
    // Shared, beside Avahi or Windows' own responder on the same port.
    if (!m_socket->bind(QHostAddress::AnyIPv4,
                        Multicast::Port,
                        QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
        return m_socket->errorString();
    bool joined = false;
    for (const QNetworkInterface &network : Multicast::networks())
        joined = m_socket->joinMulticastGroup(Multicast::group(), network) || joined;
    if (!joined && !m_socket->joinMulticastGroup(Multicast::group()))
        return m_socket->errorString();
    m_multicast = true;
    announce();
    QTimer::singleShot(1000, this, &Announcer::announce);
    return {};
}

bool Announcer::listenAt(const QHostAddress &address, quint16 port)
{
    return m_socket->bind(address, port);
}

quint16 Announcer::port() const
{
    return m_socket->localPort();
}

// Unasked, as a receiver announces itself when it starts.
void Announcer::announce()
{
    Dns::Message all;
    all.flags = 0x8400;
    all.records = records();
    markUnique(all.records);
    sendToGroup(all);
}

// To the multicast group, on the loopback network alone: the receiver is at 127.0.0.1.
void Announcer::sendToGroup(const Dns::Message &message)
{
    const QByteArray bytes = Dns::serialize(message);
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &network : interfaces) {
        if (network.flags().testFlag(QNetworkInterface::IsLoopBack)
            && network.flags().testFlag(QNetworkInterface::CanMulticast)) {
            m_socket->setMulticastInterface(network);
            m_socket->writeDatagram(bytes, Multicast::group(), Multicast::Port);
        }
    }
}

void Announcer::receive()
{
    const QList<QHostAddress> own = QNetworkInterface::allAddresses();
    while (m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket->receiveDatagram(9000);
        QHostAddress from = datagram.senderAddress();
        bool isIpv4 = false;
        from = QHostAddress(from.toIPv4Address(&isIpv4));
        if (!isIpv4 || (!from.isLoopback() && !own.contains(from)))
            continue; // only this machine may learn of a receiver at 127.0.0.1
        const auto parsed = Dns::parse(datagram.data());
        if (!std::holds_alternative<Dns::Message>(parsed))
            continue;
        const Dns::Message &query = std::get<Dns::Message>(parsed);
        if (query.isResponse())
            continue;
        const bool legacy = datagram.senderPort() != Multicast::Port;
        const Dns::Message reply = answer(query, legacy);
        if (reply.records.isEmpty())
            continue;
        if (legacy || !m_multicast) {
            m_socket->writeDatagram(Dns::serialize(reply), from, quint16(datagram.senderPort()));
            continue;
        }
        sendToGroup(reply); // a responder's question: the answer goes to the group
    }
}
