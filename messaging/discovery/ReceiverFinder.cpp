#include "ReceiverFinder.h"
#include "HttpExchange.h"
#include "Multicast.h"
#include "PlainText.h"
#include "XmlAnswer.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QRandomGenerator>
#include <QUdpSocket>
#include <QUrl>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

// The services asked for, and what each one says of a host.
const QString Stream = QStringLiteral("_e2stream._tcp");
const QString Http = QStringLiteral("_http._tcp");
const QString Https = QStringLiteral("_https._tcp");

Dns::Name serviceName(const QString &service)
{
    return Dns::nameFrom(service + QStringLiteral(".local"));
}

// How long to listen for announcements before the search may end early; the confirmations
// that are still under way go on until the end. A question is asked again no sooner than a
// second after the first (RFC 6762, 5.2); a search that lasts 3 seconds has room for one more.
constexpr auto Listening = 1500ms;
constexpr auto AskAgainAfter = 1000ms;
constexpr auto ConfirmationTimeout = 2000ms;
constexpr int MaxWebs = 4; // web interfaces asked of one host

QString typeName(quint16 type)
{
    switch (type) {
    case Dns::PTR:
        return QStringLiteral("PTR");
    case Dns::SRV:
        return QStringLiteral("SRV");
    case Dns::TXT:
        return QStringLiteral("TXT");
    case Dns::A:
        return QStringLiteral("A");
    default:
        return QString::number(type);
    }
}

// Which of the services asked for a name is, or empty.
QString serviceOf(const Dns::Name &name)
{
    for (const QString &service : {Stream, Http, Https})
        if (Dns::sameName(name, serviceName(service)))
            return service;
    return {};
}

QString lowerName(const Dns::Name &name)
{
    return Dns::nameText(name).toLower();
}

QString key(const Dns::Name &name, quint16 type)
{
    return lowerName(name) + QLatin1Char('/') + QString::number(type);
}

QHostAddress plainIpv4(const QHostAddress &address)
{
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    return isIpv4 ? QHostAddress(ipv4) : address;
}

// What a record says, for the trace.
QString described(const Dns::Record &record)
{
    QString what = typeName(record.type) + QLatin1Char(' ') + Dns::nameText(record.name);
    if (record.type == Dns::PTR)
        what += QStringLiteral(": ") + Dns::nameText(record.target);
    else if (record.type == Dns::SRV)
        what += QStringLiteral(": %1 port %2").arg(Dns::nameText(record.target)).arg(record.port);
    else if (record.type == Dns::A)
        what += QStringLiteral(": ") + record.address.toString();
    else if (record.type == Dns::TXT)
        what += QStringLiteral(": ") + PlainText::from(record.texts.join(' '));
    return what;
}

} // namespace

bool IsFromLocalLink(const QHostAddress &source, const QList<QNetworkAddressEntry> &network)
{
    const QHostAddress from = plainIpv4(source);
    if (from.isLinkLocal())
        return true;
    return std::any_of(
        network.cbegin(), network.cend(), [&from](const QNetworkAddressEntry &entry) {
            return entry.ip().protocol() == from.protocol() && entry.prefixLength() >= 0
                   && from.isInSubnet(entry.ip(), entry.prefixLength());
        });
}

bool IsOnLink(const QHostAddress &address, const QList<QNetworkAddressEntry> &network)
{
    const QHostAddress ip = plainIpv4(address);
    if (ip.isNull() || ip.isMulticast() || ip.isBroadcast()
        || ip == QHostAddress(QHostAddress::AnyIPv4) || ip == QHostAddress(QHostAddress::AnyIPv6))
        return false;
    return std::any_of(network.cbegin(), network.cend(), [&ip](const QNetworkAddressEntry &entry) {
        const int prefix = entry.prefixLength();
        if (entry.ip().protocol() != ip.protocol() || prefix < 0
            || !ip.isInSubnet(entry.ip(), prefix) || ip.isLoopback() != entry.ip().isLoopback())
            return false;
        if (ip.protocol() != QAbstractSocket::IPv4Protocol || prefix > 30)
            return true;
        // The subnet's own address and its broadcast address name no single host.
        const quint32 mask = ~quint32(0) << (32 - prefix);
        const quint32 host = ip.toIPv4Address() & ~mask;
        return host != 0 && host != ~mask;
    });
}

ReceiverFinder::ReceiverFinder(QObject *parent)
    : QObject(parent)
    , m_socket(new QUdpSocket(this))
{
    m_listening = Listening;
    connect(m_socket, &QUdpSocket::readyRead, this, &ReceiverFinder::receive);
    m_again.setSingleShot(true);
    connect(&m_again, &QTimer::timeout, this, [this] {
        for (const QString &service : {Stream, Http, Https})
            askAgain(serviceName(service), Dns::PTR);
    });
    m_quiet.setSingleShot(true);
    connect(&m_quiet, &QTimer::timeout, this, &ReceiverFinder::finishWhenDone);
    m_end.setSingleShot(true);
    m_end.setTimerType(Qt::PreciseTimer); // a coarse one may be late by 5 %
    connect(&m_end, &QTimer::timeout, this, &ReceiverFinder::finish);
    m_readMore.setSingleShot(true);
    connect(&m_readMore, &QTimer::timeout, this, &ReceiverFinder::receive);
}

ReceiverFinder::~ReceiverFinder()
{
    m_finished = true;
    qDeleteAll(m_confirming);
}

void ReceiverFinder::setTarget(const QHostAddress &address, quint16 port)
{
    m_target = plainIpv4(address);
    m_targetPort = port;
}

void ReceiverFinder::start()
{
    m_end.start(m_within);
    m_quiet.start(m_listening);
    m_queryId = static_cast<quint16>(QRandomGenerator::global()->bounded(1, 65536));
    // A port of its own: the responders on this machine keep 5353, and answer here directly.
    if (!m_socket->bind(QHostAddress::AnyIPv4, 0)) {
        trace(QStringLiteral("! no port to ask from: %1").arg(m_socket->errorString()));
        return QTimer::singleShot(0, this, &ReceiverFinder::finish);
    }
    for (const QString &service : {Stream, Http, Https})
        ask(serviceName(service), Dns::PTR);
    m_again.start(AskAgainAfter);
}

// Asks one question once. Beyond the services, only for records still missing, and only so
// many of those.
void ReceiverFinder::ask(const Dns::Name &name, quint16 type)
{
    if (m_finished || m_asked.contains(key(name, type)))
        return;
    if (type != Dns::PTR && m_followUps >= MaxFollowUps)
        return limitReached(
            QStringLiteral("at most %1 questions for missing records").arg(MaxFollowUps));
    m_followUps += type != Dns::PTR;
    m_asked.insert(key(name, type));
    askAgain(name, type);
}

// Puts the question on each network that can carry multicast, or to the target alone.
void ReceiverFinder::askAgain(const Dns::Name &name, quint16 type)
{
    if (m_finished)
        return;
    Dns::Message query;
    query.id = m_queryId;
    query.questions.append({name, type, Dns::ClassIn});
    const QByteArray bytes = Dns::serialize(query);
    const QString asked = typeName(type) + QLatin1Char(' ') + Dns::nameText(name);
    if (!m_target.isNull()) {
        trace(QStringLiteral("> %1 (to %2 port %3)")
                  .arg(asked, m_target.toString())
                  .arg(m_targetPort));
        m_socket->writeDatagram(bytes, m_target, m_targetPort);
        return;
    }
    bool sent = false;
    for (const QNetworkInterface &network : Multicast::networks()) {
        m_socket->setMulticastInterface(network);
        trace(QStringLiteral("> %1 (to %2 port %3 on %4)")
                  .arg(asked, Multicast::group().toString())
                  .arg(Multicast::Port)
                  .arg(network.humanReadableName()));
        sent = m_socket->writeDatagram(bytes, Multicast::group(), Multicast::Port) > 0 || sent;
    }
    if (!sent) { // no network says it carries multicast: the system's own choice
        trace(QStringLiteral("> %1 (to %2 port %3)")
                  .arg(asked, Multicast::group().toString())
                  .arg(Multicast::Port));
        m_socket->writeDatagram(bytes, Multicast::group(), Multicast::Port);
    }
}

// Reads a few datagrams at a time, so that timers and confirmations keep their turn however
// fast datagrams come.
void ReceiverFinder::receive()
{
    for (int i = 0; i < DatagramsAtOnce && !m_finished && m_socket->hasPendingDatagrams(); ++i) {
        const qint64 size = m_socket->pendingDatagramSize();
        if (size > MaxDatagram) { // read as nothing: a part of it would be no message at all
            const QNetworkDatagram dropped = m_socket->receiveDatagram(0);
            trace(QStringLiteral("< not taken: a datagram of %1 bytes, over %2 (from %3)")
                      .arg(size)
                      .arg(MaxDatagram)
                      .arg(dropped.senderAddress().toString()));
            continue;
        }
        const QNetworkDatagram datagram = m_socket->receiveDatagram(MaxDatagram);
        ++m_datagrams;
        const auto parsed = Dns::parse(datagram.data());
        if (const QString *why = std::get_if<QString>(&parsed)) {
            trace(QStringLiteral("< not taken: %1 (from %2)")
                      .arg(*why, datagram.senderAddress().toString()));
            continue;
        }
        const Dns::Message &message = std::get<Dns::Message>(parsed);
        const std::optional<Heard> from
            = message.isResponse() ? heard(datagram, message) : std::nullopt;
        if (!from)
            continue;
        QSet<QString> touched; // the instances this datagram may have completed
        for (const Dns::Record &record : message.records)
            take(record, *from, touched);
        for (const QString &instance : std::as_const(touched))
            resolve(instance);
    }
    if (!m_finished && m_socket->hasPendingDatagrams())
        m_readMore.start(0);
}

// Only answers to this search, from the network they came on (or from the target alone); with
// the subnets of that network that hold the sender, where the addresses it names must lie.
std::optional<ReceiverFinder::Heard> ReceiverFinder::heard(const QNetworkDatagram &datagram,
                                                           const Dns::Message &message) const
{
    const QHostAddress from = plainIpv4(datagram.senderAddress());
    if (message.id != m_queryId) {
        trace(QStringLiteral("< not taken: an answer to another query (from %1)")
                  .arg(from.toString()));
        return std::nullopt;
    }
    const QNetworkInterface arrived
        = QNetworkInterface::interfaceFromIndex(datagram.interfaceIndex());
    QList<QNetworkAddressEntry> entries = arrived.addressEntries();
    if (!m_target.isNull() || !arrived.isValid()) // any of this machine's networks
        for (const QNetworkInterface &network : QNetworkInterface::allInterfaces())
            entries += network.addressEntries();
    const bool local = !m_target.isNull() ? from == m_target : IsFromLocalLink(from, entries);
    if (!local) {
        trace(QStringLiteral("< not taken: not from the local network (from %1)")
                  .arg(from.toString()));
        return std::nullopt;
    }
    Heard heard{from.toString(), {}};
    for (const QNetworkAddressEntry &entry : std::as_const(entries))
        if (entry.ip().protocol() == from.protocol() && entry.prefixLength() >= 0
            && from.isInSubnet(entry.ip(), entry.prefixLength()))
            heard.link += entry;
    return heard;
}

// One more record of a sender, while it has room and there is room for another sender.
bool ReceiverFinder::keep(const Heard &heard)
{
    auto count = m_recordCount.find(heard.from);
    if (count == m_recordCount.end()) {
        if (m_recordCount.size() >= MaxSenders) {
            limitReached(QStringLiteral("at most %1 senders heard").arg(MaxSenders));
            return false;
        }
        count = m_recordCount.insert(heard.from, 0);
    }
    if (*count >= MaxRecords) {
        limitReached(QStringLiteral("at most %1 records kept of one sender").arg(MaxRecords));
        return false;
    }
    ++*count;
    return true;
}

// Keeps a record that a search can use, once, and notes the instances it may complete.
void ReceiverFinder::take(const Dns::Record &record, const Heard &heard, QSet<QString> &touched)
{
    if (record.ttl == 0) // a goodbye
        return forget(record, heard);
    if (record.type == Dns::A)
        return takeAddress(record, heard, touched);
    const QString service = record.type == Dns::PTR ? serviceOf(record.name) : QString();
    const bool ofService = !service.isEmpty();
    if (!ofService && record.type != Dns::SRV && record.type != Dns::TXT)
        return;
    const QString from = heard.from + QLatin1Char('|');
    const QByteArray seen = (from + key(record.name, record.type)).toUtf8() + '/' + record.data;
    if (m_heard.contains(seen) || !keep(heard))
        return;
    m_heard.insert(seen);
    trace(QStringLiteral("< %1 (from %2)").arg(described(record), heard.from));
    if (ofService) {
        const QString instance = from + lowerName(record.target);
        if (!m_instances.contains(instance))
            m_instances.insert(instance, {service, record.target, heard.from});
        touched.insert(instance);
        return;
    }
    m_records[from + key(record.name, record.type)].append(record);
    if (m_instances.contains(from + lowerName(record.name)))
        touched.insert(from + lowerName(record.name));
}

// An address for a host name, where the search may ask it. A later one is one more of its
// addresses, up to a few; it replaces those heard before only where the record says it is the
// only one (cache flush).
void ReceiverFinder::takeAddress(const Dns::Record &record,
                                 const Heard &heard,
                                 QSet<QString> &touched)
{
    if (!IsOnLink(record.address, heard.link)) {
        trace(QStringLiteral("< not taken: %1 is no address on the network of %2 (from %2)")
                  .arg(record.address.toString(), heard.from));
        return;
    }
    const QString host = heard.from + QLatin1Char('|') + lowerName(record.name);
    auto known = m_addresses.find(host);
    if (known != m_addresses.end() && (record.rrClass & Dns::TopBit))
        m_recordCount[heard.from] -= int(known->removeIf(
            [this](const Address &earlier) { return earlier.heardIn < m_datagrams; }));
    if (known != m_addresses.end()
        && std::any_of(known->cbegin(), known->cend(), [&record](const Address &earlier) {
               return earlier.ip == record.address;
           }))
        return;
    if (known != m_addresses.end() && known->size() >= MaxAddresses)
        return limitReached(
            QStringLiteral("at most %1 addresses kept for one host").arg(MaxAddresses));
    if (!keep(heard))
        return;
    m_addresses[host].append({record.address, m_datagrams});
    trace(QStringLiteral("< %1 (from %2)").arg(described(record), heard.from));
    QSet<QString> &waiting = m_hostInstances[host];
    waiting.removeIf([this](const QString &instance) { return m_instances[instance].done; });
    touched.unite(waiting);
}

// A record with no time to live says goodbye: what it names is no longer there.
void ReceiverFinder::forget(const Dns::Record &record, const Heard &heard)
{
    const QString from = heard.from + QLatin1Char('|');
    trace(QStringLiteral("< goodbye: %1 (from %2)").arg(described(record), heard.from));
    if (record.type == Dns::A) {
        if (auto known = m_addresses.find(from + lowerName(record.name));
            known != m_addresses.end())
            known->removeIf(
                [&record](const Address &earlier) { return earlier.ip == record.address; });
        return;
    }
    m_heard.remove((from + key(record.name, record.type)).toUtf8() + '/' + record.data);
    if (record.type == Dns::PTR) {
        const auto instance = m_instances.constFind(from + lowerName(record.target));
        if (instance != m_instances.cend() && !instance->done)
            m_instances.erase(instance);
        return;
    }
    if (auto records = m_records.find(from + key(record.name, record.type));
        records != m_records.end())
        records->removeIf([&record](const Dns::Record &kept) { return kept.data == record.data; });
}

const Dns::Record *ReceiverFinder::recordOf(const QString &instanceKey, quint16 type) const
{
    const auto records
        = m_records.constFind(instanceKey + QLatin1Char('/') + QString::number(type));
    return records == m_records.cend() || records->isEmpty() ? nullptr : &records->first();
}

// Puts together one announced instance: its host and port, its text and the host's address;
// what is missing is asked for.
void ReceiverFinder::resolve(const QString &instanceKey)
{
    if (m_finished) // what comes after the end is not asked about, nor listed
        return;
    Instance &instance = m_instances[instanceKey];
    if (instance.done)
        return;
    const Dns::Record *srv = recordOf(instanceKey, Dns::SRV);
    const Dns::Record *txt = recordOf(instanceKey, Dns::TXT);
    if (!srv)
        ask(instance.name, Dns::SRV);
    if (!txt && instance.service != Stream)
        ask(instance.name, Dns::TXT);
    if (!srv)
        return;
    const QString host = instance.from + QLatin1Char('|') + lowerName(srv->target);
    const QList<Address> addresses = m_addresses.value(host);
    if (addresses.isEmpty()) {
        m_hostInstances[host].insert(instanceKey);
        return ask(srv->target, Dns::A);
    }
    instance.done = true;
    const QString name = instance.name.value(0);
    const QString hostName = Dns::nameText(srv->target);
    const QHostAddress &address = addresses.first().ip;
    auto box = std::find_if(m_boxes.begin(), m_boxes.end(), [&](const Box &known) {
        return known.address == address
               && known.hostName.compare(hostName, Qt::CaseInsensitive) == 0;
    });
    if (box == m_boxes.end()) {
        if (m_boxes.size() >= MaxHosts)
            return limitReached(QStringLiteral("at most %1 hosts asked").arg(MaxHosts));
        m_boxes.append({address, hostName, {}, {}, false});
        box = m_boxes.end() - 1;
    }
    if (instance.service == Stream) {
        box->streamName = name;
        return;
    }
    const bool tls = instance.service == Https;
    if (std::any_of(box->webs.cbegin(), box->webs.cend(), [&](const Web &web) {
            return web.tls == tls && web.port == srv->port;
        }))
        return;
    if (box->webs.size() >= MaxWebs)
        return limitReached(
            QStringLiteral("at most %1 web interfaces asked of one host").arg(MaxWebs));
    Web web;
    web.tls = tls;
    web.port = srv->port;
    web.instance = name;
    web.openWebifText
        = txt && std::any_of(txt->texts.cbegin(), txt->texts.cend(), [](const QByteArray &text) {
              return text.compare("OpenWebif", Qt::CaseInsensitive) == 0;
          });
    box->webs.append(web);
    confirm(box - m_boxes.begin(), box->webs.size() - 1);
}

// Asks a web interface whether it is a receiver's: its /web/about names the Enigma2 version.
// The request carries nothing of the user's, so any certificate will do for it. Only so many
// are asked at once; the others wait their turn. A web interface that wants a session on every
// call (HTTP 412) is asked for one, and /web/about once more with it.
void ReceiverFinder::confirm(qsizetype box, qsizetype web, const QString &session)
{
    if (m_confirming.size() >= MaxConfirming) {
        m_waiting.append({box, web});
        return limitReached(
            QStringLiteral("at most %1 web interfaces asked at once, the others wait their turn")
                .arg(MaxConfirming));
    }
    m_boxes[box].webs[web].state = Web::State::Asking;
    QByteArray about = "/web/about";
    if (!session.isEmpty())
        about += "?sessionid=" + QUrl::toPercentEncoding(session);
    askWeb({box, web}, about, [this, box, web, session](const HttpOutcome &outcome) {
        if (!outcome.failure && outcome.answer.status == 412 && session.isEmpty())
            return askWeb({box, web}, "/web/session", [this, box, web](const HttpOutcome &got) {
                const auto said
                    = !got.failure && got.answer.status == 200
                          ? XmlElements(got.answer.body, {QStringLiteral("e2sessionid")})
                          : std::nullopt;
                const QString id = said ? said->value(QStringLiteral("e2sessionid")) : QString();
                if (id.isEmpty())
                    return judge(box, web, {});
                confirm(box, web, id);
            });
        judged(box, web, outcome);
    });
}

// What /web/about said of a web interface.
void ReceiverFinder::judged(qsizetype box, qsizetype web, const HttpOutcome &outcome)
{
    const auto about
        = !outcome.failure && outcome.answer.status == 200
              ? XmlElements(outcome.answer.body,
                            {QStringLiteral("e2enigmaversion"), QStringLiteral("e2webifversion")})
              : std::nullopt;
    const QString version = about ? about->value(QStringLiteral("e2enigmaversion")) : QString();
    const QString status = PlainText::from(outcome.answer.statusLine);
    const QString peer = originOf(box, web);
    if (version.isEmpty()) {
        trace(QStringLiteral("< not a receiver: %1 (from %2)")
                  .arg(!outcome.failure ? status + QStringLiteral(", no Enigma2 version")
                       : outcome.failure->detail.isEmpty()
                           ? QStringLiteral("no HTTP answer")
                           : PlainText::from(outcome.failure->detail),
                       peer));
        return judge(box, web, {});
    }
    const QString webInterface = about->value(QStringLiteral("e2webifversion"));
    trace(QStringLiteral("< %1, Enigma2 %2%3 (from %4)")
              .arg(status,
                   PlainText::from(version),
                   webInterface.isEmpty() ? QString()
                                          : QStringLiteral(", ") + PlainText::from(webInterface),
                   peer));
    const bool openWebif
        = m_boxes[box].webs[web].openWebifText
          || webInterface.contains(QLatin1String("OWIF"), Qt::CaseInsensitive)
          || webInterface.contains(QLatin1String("OpenWebif"), Qt::CaseInsensitive);
    judge(box, web, openWebif ? QStringLiteral("openwebif") : QStringLiteral("maker"));
}

QString ReceiverFinder::originOf(qsizetype box, qsizetype web) const
{
    const Web &asked = m_boxes[box].webs[web];
    return HttpRequest::Origin(asked.tls, m_boxes[box].address.toString(), asked.port);
}

// One GET to a web interface, in its place among those under way, until the confirmation's
// time or the search's end; then is told the outcome, or nothing when time ran out.
void ReceiverFinder::askWeb(std::pair<qsizetype, qsizetype> which,
                            const QByteArray &target,
                            const std::function<void(const HttpOutcome &)> &then)
{
    const Box &host = m_boxes[which.first];
    const Web &web = host.webs[which.second];
    HttpRequest request;
    request.host = host.address.toString();
    request.port = web.port;
    request.tls = web.tls;
    request.hostHeader = HttpRequest::Origin(false, request.host, request.port).toUtf8();
    request.target = target;
    const QString peer = originOf(which.first, which.second);
    auto *exchange = new HttpExchange(
        request,
        [](const PeerCertificate &) { return true; }, // the request carries nothing of ours
        [this, which, then](const HttpOutcome &outcome) {
            HttpExchange *done = m_confirming.take(which);
            if (!done)
                return; // it ran out of time already
            done->deleteLater();
            then(outcome);
        },
        this);
    exchange->setSent([this, peer, target] {
        trace(QStringLiteral("> GET %1 (to %2)").arg(QString::fromLatin1(target), peer));
    });
    m_confirming.insert(which, exchange);
    const auto wait = std::min<std::chrono::milliseconds>(
        ConfirmationTimeout,
        std::chrono::ceil<std::chrono::milliseconds>(m_end.remainingTimeAsDuration()));
    QTimer::singleShot(wait, exchange, [this, which, peer] {
        if (HttpExchange *late = m_confirming.take(which)) {
            late->abandon(); // its place is free at once, for the next one waiting
            late->deleteLater();
            trace(QStringLiteral("< no answer in time (from %1)").arg(peer));
            judge(which.first, which.second, {});
        }
    });
}

// What asking a web interface found: a receiver's of that kind, or, with no kind, nothing.
void ReceiverFinder::judge(qsizetype box, qsizetype web, const QString &kind)
{
    Web &judged = m_boxes[box].webs[web];
    judged.state = kind.isEmpty() ? Web::State::Other : Web::State::Receiver;
    judged.kind = kind;
    listIfDecided(m_boxes[box], false);
    while (!m_finished && !m_waiting.isEmpty() && m_confirming.size() < MaxConfirming) {
        const auto [nextBox, nextWeb] = m_waiting.takeFirst();
        confirm(nextBox, nextWeb);
    }
    finishWhenDone();
}

// Lists the host once it is known to be a receiver and how to reach it: by a web interface
// that said so (plain HTTP before HTTPS), or, at the end, by its _e2stream._tcp announcement.
void ReceiverFinder::listIfDecided(Box &box, bool final)
{
    if (box.listed)
        return;
    const bool asking = std::any_of(box.webs.cbegin(), box.webs.cend(), [](const Web &web) {
        return web.state == Web::State::Asking || web.state == Web::State::Waiting;
    });
    if (asking && !final)
        return;
    QList<Web> webs = box.webs;
    std::stable_sort(webs.begin(), webs.end(), [](const Web &a, const Web &b) {
        return std::pair(a.state != Web::State::Receiver, a.tls)
               < std::pair(b.state != Web::State::Receiver, b.tls);
    });
    const bool receiver = !webs.isEmpty() && webs.first().state == Web::State::Receiver;
    if (!receiver && (box.streamName.isEmpty() || (!final && webs.isEmpty())))
        return;
    if (m_listed >= MaxListed)
        return limitReached(QStringLiteral("at most %1 receivers listed").arg(MaxListed));
    FoundReceiver listed;
    listed.name = !box.streamName.isEmpty() ? box.streamName
                  : receiver                ? webs.first().instance
                                            : box.hostName;
    QString address = box.address.toString();
    if (!webs.isEmpty()) {
        const Web &web = webs.first();
        if (web.port != (web.tls ? 443 : 80))
            address += QLatin1Char(':') + QString::number(web.port);
        if (web.tls)
            address.prepend(QStringLiteral("https://"));
    }
    listed.address = address;
    listed.kind = receiver ? webs.first().kind : QStringLiteral("unconfirmed");
    box.listed = true;
    ++m_listed;
    emit found(listed);
}

void ReceiverFinder::finishWhenDone()
{
    if (!m_quiet.isActive() && m_confirming.isEmpty() && m_waiting.isEmpty())
        finish();
}

void ReceiverFinder::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_again.stop();
    m_quiet.stop();
    m_end.stop();
    m_readMore.stop();
    m_socket->close(); // nothing more is heard
    const auto unanswered = m_confirming.keys();
    for (const auto &which : unanswered) {
        HttpExchange *late = m_confirming.take(which);
        late->abandon();
        late->deleteLater();
        m_boxes[which.first].webs[which.second].state = Web::State::Other;
    }
    for (const auto &[box, web] : std::as_const(m_waiting))
        m_boxes[box].webs[web].state = Web::State::Other;
    m_waiting.clear();
    for (Box &box : m_boxes)
        listIfDecided(box, true);
    emit finished();
}

void ReceiverFinder::trace(const QString &line) const
{
    if (m_trace)
        m_trace(line);
}

// Said once for each limit; the search goes on with what it has.
void ReceiverFinder::limitReached(const QString &which)
{
    if (m_limits.contains(which))
        return;
    m_limits.insert(which);
    trace(QStringLiteral("! limit reached: %1").arg(which));
}
