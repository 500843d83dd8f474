#include "Announcer.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>

namespace {

constexpr quint16 StreamPort = 8001;
constexpr quint32 LegacyTtl = 10; // at most, for answers to ports other than 5353

bool matches(const SimDns::Question &question, const SimDns::Record &record)
{
    return (question.type == record.type || question.type == SimDns::ANY)
           && SimDns::sameName(question.name, record.name);
}

// Sent to the group, the records are the only ones of their name and type, so that queriers
// flush older ones; a service's pointers are shared with other instances.
void markUnique(QList<SimDns::Record> &records)
{
    for (SimDns::Record &record : records)
        record.unique = record.type != SimDns::PTR;
}

// The networks that can carry multicast: up, able to multicast, with an IPv4 address.
QList<QNetworkInterface> multicastNetworks()
{
    QList<QNetworkInterface> found;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &network : interfaces) {
        const auto entries = network.addressEntries();
        if (network.flags().testFlag(QNetworkInterface::IsUp)
            && network.flags().testFlag(QNetworkInterface::CanMulticast)
            && std::any_of(entries.cbegin(), entries.cend(), [](const QNetworkAddressEntry &entry) {
                   return entry.ip().protocol() == QAbstractSocket::IPv4Protocol;
               }))
            found += network;
    }
    return found;
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

QList<SimDns::Record> Announcer::records() const
{
    // The host name is the receiver's name in letters, digits and hyphens.
    QString host = m_name;
    host.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9-]+")), QStringLiteral("-"));
    const SimDns::Name hostName{host, QStringLiteral("local")};
    const QString web = m_tls ? QStringLiteral("_https") : QStringLiteral("_http");
    const SimDns::Name webService{web, QStringLiteral("_tcp"), QStringLiteral("local")};
    const SimDns::Name streamService{
        QStringLiteral("_e2stream"), QStringLiteral("_tcp"), QStringLiteral("local")};
    const SimDns::Name webInstance = SimDns::Name{m_name} + webService;
    const SimDns::Name streamInstance = SimDns::Name{m_name} + streamService;
    QList<SimDns::Record> all;
    const auto record = [&all](const SimDns::Name &name, quint16 type) -> SimDns::Record & {
        all.append(SimDns::Record());
        all.last().name = name;
        all.last().type = type;
        return all.last();
    };
    // A service's pointer to its instance, and where the instance answers.
    const auto announce
        = [&](const SimDns::Name &service, const SimDns::Name &instance, quint16 port) {
              record(service, SimDns::PTR).target = instance;
              SimDns::Record &server = record(instance, SimDns::SRV);
              server.target = hostName;
              server.port = port;
          };
    if (m_stream)
        announce(streamService, streamInstance, StreamPort);
    announce(webService, webInstance, m_webPort);
    SimDns::Record &text = record(webInstance, SimDns::TXT);
    if (m_webInterface == Interface::OpenWebif)
        text.texts = {"OpenWebif"};
    record(hostName, SimDns::A).ipv4 = 0x7f000001; // 127.0.0.1
    return all;
}

QList<SimDns::Record> Announcer::answer(const SimDns::Query &query) const
{
    const QList<SimDns::Record> ours = records();
    QList<SimDns::Record> answers;
    for (const SimDns::Question &question : query.questions)
        for (const SimDns::Record &record : ours)
            if (matches(question, record))
                answers.append(record);
    // What a querier needs next: the instance's host and port and text, the host's address.
    // Each record of ours is given once, in the order it is first needed.
    for (qsizetype i = 0; i < answers.size(); ++i) {
        const SimDns::Record given = answers[i];
        for (const SimDns::Record &record : ours) {
            const bool follows
                = (given.type == SimDns::PTR && SimDns::sameName(record.name, given.target)
                   && (record.type == SimDns::SRV || record.type == SimDns::TXT))
                  || (given.type == SimDns::SRV && record.type == SimDns::A
                      && SimDns::sameName(record.name, given.target));
            const bool known
                = std::any_of(answers.cbegin(), answers.cend(), [&record](const SimDns::Record &a) {
                      return a.type == record.type && SimDns::sameName(a.name, record.name)
                             && a.target == record.target;
                  });
            if (follows && !known)
                answers.append(record);
        }
    }
    return answers;
}

QString Announcer::start()
{
    // Shared, beside Avahi or Windows' own responder on the same port.
    if (!m_socket->bind(QHostAddress::AnyIPv4,
                        SimDns::Port,
                        QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
        return m_socket->errorString();
    bool joined = false;
    const QHostAddress group(QLatin1String(SimDns::Group));
    for (const QNetworkInterface &network : multicastNetworks())
        joined = m_socket->joinMulticastGroup(group, network) || joined;
    if (!joined && !m_socket->joinMulticastGroup(group))
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
    QList<SimDns::Record> all = records();
    markUnique(all);
    sendToGroup(SimDns::writeAnswer(0, {}, all));
}

// To the multicast group, on the loopback network alone: the receiver is at 127.0.0.1.
void Announcer::sendToGroup(const QByteArray &datagram)
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &network : interfaces) {
        if (network.flags().testFlag(QNetworkInterface::IsLoopBack)
            && network.flags().testFlag(QNetworkInterface::CanMulticast)) {
            m_socket->setMulticastInterface(network);
            m_socket->writeDatagram(
                datagram, QHostAddress(QLatin1String(SimDns::Group)), SimDns::Port);
        }
    }
}

QByteArray Announcer::reply(QByteArrayView datagram, bool legacy) const
{
    const std::optional<SimDns::Query> query = SimDns::readQuery(datagram);
    if (!query || query->response)
        return {};
    QList<SimDns::Record> records = answer(*query);
    if (records.isEmpty())
        return {};
    if (!legacy) {
        markUnique(records);
        return SimDns::writeAnswer(0, {}, records);
    }
    for (SimDns::Record &record : records)
        record.ttl = std::min(record.ttl, LegacyTtl);
    return SimDns::writeAnswer(query->id, query->questions, records);
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
        const bool legacy = datagram.senderPort() != SimDns::Port;
        const QByteArray answer = reply(datagram.data(), legacy);
        if (answer.isEmpty())
            continue;
        if (legacy || !m_multicast)
            m_socket->writeDatagram(answer, from, quint16(datagram.senderPort()));
        else
            sendToGroup(answer); // a responder's question: the answer goes to the group
    }
}
