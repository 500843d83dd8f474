#include "ReceiverFinder.h"
#include "HttpExchange.h"
#include "XmlAnswer.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QRandomGenerator>
#include <QUdpSocket>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

const QHostAddress MulticastGroup(QStringLiteral("224.0.0.251"));
constexpr quint16 MulticastPort = 5353;

// The services asked for, and what each one says of a host.
const QString Stream = QStringLiteral("_e2stream._tcp");
const QString Http = QStringLiteral("_http._tcp");
const QString Https = QStringLiteral("_https._tcp");

Dns::Name serviceName(const QString &service)
{
    return Dns::nameFrom(service + QStringLiteral(".local"));
}

// How long to listen for announcements before the search may end early; the confirmations
// that are still under way go on until the end.
constexpr auto Listening = 1500ms;
constexpr auto AskAgainAfter = 600ms;
constexpr auto ConfirmationTimeout = 2000ms;

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

QString key(const Dns::Name &name, quint16 type)
{
    return Dns::nameText(name).toLower() + QLatin1Char('/') + QString::number(type);
}

} // namespace

ReceiverFinder::ReceiverFinder(QObject *parent)
    : QObject(parent)
    , m_socket(new QUdpSocket(this))
{
    connect(m_socket, &QUdpSocket::readyRead, this, &ReceiverFinder::receive);
    m_again.setSingleShot(true);
    connect(&m_again, &QTimer::timeout, this, [this] {
        for (const QString &service : {Stream, Http, Https})
            ask(serviceName(service), Dns::PTR);
    });
    m_quiet.setSingleShot(true);
    connect(&m_quiet, &QTimer::timeout, this, [this] {
        if (m_confirming.isEmpty())
            finish();
    });
    m_end.setSingleShot(true);
    connect(&m_end, &QTimer::timeout, this, &ReceiverFinder::finish);
}

ReceiverFinder::~ReceiverFinder()
{
    m_finished = true;
    qDeleteAll(m_confirming);
}

void ReceiverFinder::setTarget(const QHostAddress &address, quint16 port)
{
    m_target = address;
    m_targetPort = port;
}

void ReceiverFinder::start()
{
    m_end.start(Within);
    m_quiet.start(Listening);
    // A port of its own: the responders on this machine keep 5353, and answer here directly.
    if (!m_socket->bind(QHostAddress::AnyIPv4, 0)) {
        trace(QStringLiteral("! no port to ask from: %1").arg(m_socket->errorString()));
        return QTimer::singleShot(0, this, &ReceiverFinder::finish);
    }
    for (const QString &service : {Stream, Http, Https})
        ask(serviceName(service), Dns::PTR);
    m_asked.clear(); // asked once more, in case an answer was lost
    m_again.start(AskAgainAfter);
}

// Asks one question, of each network that can carry multicast, or of the target alone. A
// question is asked once, but for the services, which are asked twice.
void ReceiverFinder::ask(const Dns::Name &name, quint16 type)
{
    if (m_finished || m_asked.contains(key(name, type)))
        return;
    m_asked.insert(key(name, type));
    Dns::Message query;
    query.id = static_cast<quint16>(QRandomGenerator::global()->bounded(1, 65536));
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
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &network : interfaces) {
        const auto flags = network.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp)
            || !flags.testFlag(QNetworkInterface::CanMulticast)
            || !std::any_of(network.addressEntries().cbegin(),
                            network.addressEntries().cend(),
                            [](const QNetworkAddressEntry &entry) {
                                return entry.ip().protocol() == QAbstractSocket::IPv4Protocol;
                            }))
            continue;
        m_socket->setMulticastInterface(network);
        trace(QStringLiteral("> %1 (to %2 port %3 on %4)")
                  .arg(asked, MulticastGroup.toString())
                  .arg(MulticastPort)
                  .arg(network.humanReadableName()));
        sent = m_socket->writeDatagram(bytes, MulticastGroup, MulticastPort) > 0 || sent;
    }
    if (!sent) { // no network says it carries multicast: the system's own choice
        trace(QStringLiteral("> %1 (to %2 port %3)")
                  .arg(asked, MulticastGroup.toString())
                  .arg(MulticastPort));
        m_socket->writeDatagram(bytes, MulticastGroup, MulticastPort);
    }
}

void ReceiverFinder::receive()
{
    while (m_socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket->receiveDatagram(9000);
        if (m_finished)
            continue;
        const auto parsed = Dns::parse(datagram.data());
        const QString from = datagram.senderAddress().toString();
        if (const QString *why = std::get_if<QString>(&parsed)) {
            trace(QStringLiteral("< not taken: %1 (from %2)").arg(*why, from));
            continue;
        }
        const Dns::Message &message = std::get<Dns::Message>(parsed);
        if (!message.isResponse())
            continue;
        for (const Dns::Record &record : message.records) {
            if (std::any_of(
                    m_records.cbegin(), m_records.cend(), [&record](const Dns::Record &known) {
                        return known.type == record.type && known.data == record.data
                               && Dns::sameName(known.name, record.name);
                    }))
                continue;
            m_records.append(record);
            QString what = typeName(record.type) + QLatin1Char(' ') + Dns::nameText(record.name);
            if (record.type == Dns::PTR)
                what += QStringLiteral(": ") + Dns::nameText(record.target);
            else if (record.type == Dns::SRV)
                what += QStringLiteral(": %1 port %2")
                            .arg(Dns::nameText(record.target))
                            .arg(record.port);
            else if (record.type == Dns::A || record.type == Dns::AAAA)
                what += QStringLiteral(": ") + record.address.toString();
            else if (record.type == Dns::TXT)
                what += QStringLiteral(": ") + QString::fromUtf8(record.texts.join(' '));
            trace(QStringLiteral("< %1 (from %2)").arg(what, from));
        }
    }
    resolve();
}

const Dns::Record *ReceiverFinder::recordOf(const Dns::Name &name, quint16 type) const
{
    for (const Dns::Record &record : m_records)
        if (record.type == type && Dns::sameName(record.name, name))
            return &record;
    return nullptr;
}

// Puts together what was heard: each announced instance of the services, its host and port,
// and the host's IPv4 address; what is missing is asked for.
void ReceiverFinder::resolve()
{
    if (m_finished) // what comes after the end is not asked about, nor listed
        return;
    const QList<Dns::Record> records = m_records;
    for (const QString &service : {Stream, Http, Https}) {
        for (const Dns::Record &pointer : records) {
            if (pointer.type != Dns::PTR || !Dns::sameName(pointer.name, serviceName(service)))
                continue;
            const Dns::Name &instance = pointer.target;
            const Dns::Record *srv = recordOf(instance, Dns::SRV);
            const Dns::Record *txt = recordOf(instance, Dns::TXT);
            if (!srv)
                ask(instance, Dns::SRV);
            if (!txt && service != Stream)
                ask(instance, Dns::TXT);
            if (!srv)
                continue;
            const Dns::Record *address = recordOf(srv->target, Dns::A);
            if (!address) {
                ask(srv->target, Dns::A);
                continue;
            }
            const QString hostName = Dns::nameText(srv->target);
            auto box = std::find_if(m_boxes.begin(), m_boxes.end(), [&](const Box &known) {
                return known.address == address->address
                       && known.hostName.compare(hostName, Qt::CaseInsensitive) == 0;
            });
            if (box == m_boxes.end()) {
                m_boxes.append({address->address, hostName, {}, {}, false});
                box = m_boxes.end() - 1;
            }
            const QString name = instance.value(0);
            if (service == Stream) {
                box->streamName = name;
                continue;
            }
            const bool tls = service == Https;
            if (std::any_of(box->webs.cbegin(), box->webs.cend(), [&](const Web &web) {
                    return web.tls == tls && web.port == srv->port;
                }))
                continue;
            Web web;
            web.tls = tls;
            web.port = srv->port;
            web.instance = name;
            web.openWebifText
                = txt
                  && std::any_of(
                      txt->texts.cbegin(), txt->texts.cend(), [](const QByteArray &text) {
                          return text.compare("OpenWebif", Qt::CaseInsensitive) == 0;
                      });
            box->webs.append(web);
            confirm(box - m_boxes.begin(), box->webs.size() - 1);
        }
    }
}

// Asks a web interface whether it is a receiver's: its /web/about names the Enigma2 version.
// The request carries nothing of the user's, so any certificate will do for it.
void ReceiverFinder::confirm(qsizetype box, qsizetype web)
{
    const Box &host = m_boxes[box];
    const Web &announced = host.webs[web];
    HttpRequest request;
    request.host = host.address.toString();
    request.port = announced.port;
    request.tls = announced.tls;
    request.hostHeader = request.receiverKey().toUtf8();
    request.target = "/web/about";
    const QString peer
        = (announced.tls ? QStringLiteral("https://") : QString()) + request.receiverKey();
    trace(QStringLiteral("> GET /web/about (to %1)").arg(peer));
    const std::pair<qsizetype, qsizetype> which{box, web};
    auto *exchange = new HttpExchange(
        request,
        CertificateTrust::anything(),
        [this, which, peer](const HttpOutcome &outcome) {
            HttpExchange *done = m_confirming.take(which);
            if (!done)
                return; // it ran out of time already
            done->deleteLater();
            const auto about = outcome.failure.isEmpty() && outcome.answer.status == 200
                                   ? XmlElements(outcome.answer.body)
                                   : std::nullopt;
            const QString version
                = about ? about->value(QStringLiteral("e2enigmaversion")) : QString();
            if (version.isEmpty()) {
                trace(QStringLiteral("< not a receiver: %1 (from %2)")
                          .arg(outcome.failure.isEmpty()
                                   ? QString::fromUtf8(outcome.answer.statusLine)
                                         + QStringLiteral(", no Enigma2 version")
                                   : outcome.failure,
                               peer));
                return judge(which.first, which.second, {});
            }
            const QString webInterface = about->value(QStringLiteral("e2webifversion"));
            trace(QStringLiteral("< %1, Enigma2 %2%3 (from %4)")
                      .arg(QString::fromUtf8(outcome.answer.statusLine),
                           version,
                           webInterface.isEmpty() ? QString() : QStringLiteral(", ") + webInterface,
                           peer));
            const bool openWebif
                = m_boxes[which.first].webs[which.second].openWebifText
                  || webInterface.contains(QLatin1String("OWIF"), Qt::CaseInsensitive)
                  || webInterface.contains(QLatin1String("OpenWebif"), Qt::CaseInsensitive);
            judge(which.first,
                  which.second,
                  openWebif ? QStringLiteral("openwebif") : QStringLiteral("maker"));
        },
        this);
    m_confirming.insert(which, exchange);
    const auto wait = std::min<std::chrono::milliseconds>(
        ConfirmationTimeout,
        std::chrono::ceil<std::chrono::milliseconds>(m_end.remainingTimeAsDuration()));
    QTimer::singleShot(wait, exchange, [this, which, peer] {
        if (HttpExchange *late = m_confirming.take(which)) {
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
    if (!m_quiet.isActive() && m_confirming.isEmpty())
        finish();
}

// Lists the host once it is known to be a receiver and how to reach it: by a web interface
// that said so (plain HTTP before HTTPS), or, at the end, by its _e2stream._tcp announcement.
void ReceiverFinder::listIfDecided(Box &box, bool final)
{
    if (box.listed)
        return;
    const bool asking = std::any_of(box.webs.cbegin(), box.webs.cend(), [](const Web &web) {
        return web.state == Web::State::Asking;
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
    listed.kind = receiver ? webs.first().kind : QStringLiteral("web interface");
    box.listed = true;
    emit found(listed);
}

void ReceiverFinder::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_again.stop();
    m_quiet.stop();
    m_end.stop();
    const auto unanswered = m_confirming.keys();
    for (const auto &which : unanswered) {
        m_confirming.take(which)->deleteLater();
        m_boxes[which.first].webs[which.second].state = Web::State::Other;
    }
    for (Box &box : m_boxes)
        listIfDecided(box, true);
    emit finished();
}

void ReceiverFinder::trace(const QString &line) const
{
    if (m_trace)
        m_trace(line);
}
