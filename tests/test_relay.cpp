// The relay's rules: when each receiver is sent which message, from what the relay knows.
#include "Answers.h"
#include "MqttPayloads.h"
#include "Publication.h"
#include "PublishFields.h"
#include "RelayRules.h"
#include "RelaySettings.h"
#include "Tokens.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

using namespace RelayRules;
using namespace std::chrono_literals;

namespace {

// Times in the rows are seconds since some start.
Time at(int seconds)
{
    return Seconds(seconds);
}

// "id:expires:priority:display …", in the order accepted.
QList<Waiting> waitingFrom(const QString &rows)
{
    QList<Waiting> waiting;
    for (const QString &row : rows.split(' ', Qt::SkipEmptyParts)) {
        const QStringList part = row.split(':');
        waiting += Waiting{part.value(0).toLongLong(),
                           at(part.value(1).toInt()),
                           part.value(2, "3").toInt(),
                           Seconds(part.value(3, "0").toInt())};
    }
    return waiting;
}

// "free F", then "standby U" or "unreachable U pause P"
Receiver receiverFrom(const QString &text)
{
    const QStringList part = text.split(' ');
    Receiver receiver;
    receiver.freeAt = at(part.value(1).toInt());
    if (part.value(2) == "standby")
        receiver.hold = Hold::Standby;
    if (part.value(2) == "unreachable")
        receiver.hold = Hold::Unreachable;
    receiver.holdUntil = at(part.value(3).toInt());
    receiver.pause = Seconds(part.value(5).toInt());
    return receiver;
}

QString told(const Next &next)
{
    QString said;
    switch (next.action) {
    case Next::Action::Rest:
        said = "rest";
        break;
    case Next::Action::WaitUntil:
        said = QString("wait until %1")
                   .arg(Seconds(std::chrono::duration_cast<Seconds>(next.at)).count());
        break;
    case Next::Action::Send:
        said = QString("send %1").arg(next.message) + (next.wake ? " waking" : "");
        break;
    }
    QStringList expired;
    for (const qint64 id : next.expired)
        expired += QString::number(id);
    return expired.isEmpty() ? said : said + "; expired " + expired.join(',');
}

QString told(const Receiver &receiver)
{
    static const char *const holds[] = {"none", "standby", "unreachable"};
    const auto seconds = [](Time time) {
        return QString::number(std::chrono::duration_cast<Seconds>(time).count());
    };
    return "free " + seconds(receiver.freeAt) + ", " + holds[int(receiver.hold)]
           + (receiver.hold == Hold::None ? QString() : " until " + seconds(receiver.holdUntil))
           + ", pause " + QString::number(receiver.pause.count());
}

} // namespace

class TestRelay : public QObject
{
    Q_OBJECT

private slots:
    // What to do now, at 10 s, with Timeout 10, StandbyCheck 30 and WakeAt 5.
    void decide_data()
    {
        QTest::addColumn<QString>("waiting");  // id:expires:priority:display, oldest first
        QTest::addColumn<QString>("receiver"); // see receiverFrom
        QTest::addColumn<QString>("next");
        const auto row
            = [](const char *name, const char *waiting, const char *receiver, const char *next) {
                  QTest::newRow(name) << QString(waiting) << QString(receiver) << QString(next);
              };
        row("nothing waits", "", "free 0", "rest");
        row("one waits", "1:100", "free 0", "send 1");
        row("the oldest first", "1:100 2:50", "free 0", "send 1");
        row("the last one still on the screen", "1:100", "free 20", "wait until 20");
        row("its display time just ended", "1:100", "free 10", "send 1");
        row("an expired one is skipped", "1:5 2:100", "free 0", "send 2; expired 1");
        row("expiring this moment", "1:10", "free 0", "rest; expired 1");
        row("all expired", "1:5 2:9", "free 0", "rest; expired 1,2");
        row("in standby, not yet time to ask", "1:100", "free 0 standby 40", "wait until 40");
        row("in standby, time to ask again", "1:100", "free 0 standby 10", "send 1");
        row("in standby, an urgent one behind",
            "1:100:3 2:100:5",
            "free 0 standby 40",
            "send 1 waking");
        row("in standby, one just short of urgent",
            "1:100:4",
            "free 0 standby 40",
            "wait until 40");
        row("urgent, the screen on", "1:100:5", "free 0", "send 1 waking");
        row("urgent does not cut a display short", "1:100:5", "free 20", "wait until 20");
        row("nothing answers: the pause holds for urgent too",
            "1:100:5",
            "free 0 unreachable 40 pause 20",
            "wait until 40");
        row("nothing answered, pause over", "1:100", "free 0 unreachable 10 pause 20", "send 1");
        row("waits no longer than a lifetime", "1:30 2:100", "free 50", "wait until 30");
    }

    void decide()
    {
        QFETCH(QString, waiting);
        QFETCH(QString, receiver);
        QFETCH(QString, next);
        const Settings settings{10s, 30s, 5};
        QCOMPARE(told(Decide(waitingFrom(waiting), receiverFrom(receiver), settings, at(10))),
                 next);
    }

    // What the relay knows after a send that ended at 10 s, with Timeout 10 and StandbyCheck 30.
    void after_data()
    {
        QTest::addColumn<QString>("before"); // see receiverFrom
        QTest::addColumn<int>("outcome");    // Outcome
        QTest::addColumn<int>("display");    // the message's own display time
        QTest::addColumn<QString>("known");
        const auto row = [](const char *name,
                            const char *before,
                            Outcome outcome,
                            int display,
                            const char *known) {
            QTest::newRow(name) << QString(before) << int(outcome) << display << QString(known);
        };
        row("shown for its own time", "free 0", Outcome::Shown, 15, "free 25, none, pause 0");
        row("shown for the relay's time", "free 0", Outcome::Shown, 0, "free 20, none, pause 0");
        row("shown after nothing answered",
            "free 0 unreachable 10 pause 40",
            Outcome::Shown,
            0,
            "free 20, none, pause 0");
        row("in standby", "free 0", Outcome::InStandby, 0, "free 0, standby until 40, pause 0");
        row("in standby after nothing answered",
            "free 0 unreachable 10 pause 40",
            Outcome::InStandby,
            0,
            "free 0, standby until 40, pause 0");
        row("nothing answers",
            "free 0",
            Outcome::Unreachable,
            0,
            "free 0, unreachable until 20, pause 10");
        row("nothing answers again",
            "free 0 unreachable 10 pause 10",
            Outcome::Unreachable,
            0,
            "free 0, unreachable until 30, pause 20");
        row("the pause stops growing",
            "free 0 unreachable 10 pause 160",
            Outcome::Unreachable,
            0,
            "free 0, unreachable until 310, pause 300");
        row("the longest pause",
            "free 0 unreachable 10 pause 300",
            Outcome::Unreachable,
            0,
            "free 0, unreachable until 310, pause 300");
        row("failed: the next one may go",
            "free 5 standby 10",
            Outcome::Failed,
            0,
            "free 5, none, pause 0");
    }

    void after()
    {
        QFETCH(QString, before);
        QFETCH(int, outcome);
        QFETCH(int, display);
        QFETCH(QString, known);
        const Settings settings{10s, 30s, 5};
        const Waiting sent{1, at(100), 3, Seconds(display)};
        QCOMPARE(told(After(receiverFrom(before), Outcome(outcome), sent, settings, at(10))),
                 known);
    }

    // Each field a publisher gives, from its text: the value, or "refused".
    void publishFields_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("read");
        const auto row = [](const char *field, const char *text, const char *read) {
            QTest::addRow("%s %s", field, text)
                << QString(field) << QString::fromUtf8(text) << QString(read);
        };
        row("topic", "living-room_2", "yes");
        row("topic", "all", "yes");
        row("topic", "", "refused");
        row("topic", "living room", "refused");
        row("topic", "küche", "refused");
        row("topic", "a/b", "refused");
        row("topic", QByteArray(64, 'a').constData(), "yes");
        row("topic", QByteArray(65, 'a').constData(), "refused");
        row("priority", "1", "1");
        row("priority", "5", "5");
        row("priority", "0", "refused");
        row("priority", "6", "refused");
        row("priority", "min", "1");
        row("priority", "low", "2");
        row("priority", "Default", "3");
        row("priority", "HIGH", "4");
        row("priority", "max", "5");
        row("priority", "urgent", "5");
        row("priority", " high ", "4");
        row("priority", "-1", "refused");
        row("priority", "3.0", "refused");
        row("priority", "", "refused");
        row("gotify", "0", "2");
        row("gotify", "3", "2");
        row("gotify", "4", "3");
        row("gotify", "7", "3");
        row("gotify", "8", "5");
        row("gotify", "10", "5");
        row("gotify", "11", "refused");
        row("gotify", "-1", "refused");
        row("lifetime", "90", "90");
        row("lifetime", "90s", "90");
        row("lifetime", "10m", "600");
        row("lifetime", "2h", "7200");
        row("lifetime", "1d", "86400");
        row("lifetime", "365d", "31536000");
        row("lifetime", "366d", "refused");
        row("lifetime", "31536001", "refused");
        row("lifetime", "0", "refused");
        row("lifetime", "0h", "refused");
        row("lifetime", "h", "refused");
        row("lifetime", "10w", "refused");
        row("lifetime", "1.5h", "refused");
        row("lifetime", "+10m", "refused");
        row("lifetime", "99999999999999999999d", "refused");
        row("display", "0", "0");
        row("display", "86400", "86400");
        row("display", "86401", "refused");
        row("display", "10s", "refused");
        row("display", "", "refused");
        row("header", "Front door", "Front door");
        row("header", "=?UTF-8?B?VMO8ciBvZmZlbg==?=", "Tür offen");
        row("header", "=?iso-8859-1?q?T=FCr_offen?=", "Tür offen");
        row("header", "=?UTF-8?Q?T=C3=BCr?= =?UTF-8?Q?_offen?=", "Tür offen");
        row("header", "Door: =?UTF-8?B?VMO8cg==?= now", "Door: Tür now");
        row("header", "=?UTF-8?B?not base64!?=", "=?UTF-8?B?not base64!?=");
        row("header", "=?KOI8-R?B?9MXT1A==?=", "=?KOI8-R?B?9MXT1A==?=");
        row("header", "=?UTF-8?Q?T=C?=", "=?UTF-8?Q?T=C?=");
        row("header", "=?UTF-8?B?", "=?UTF-8?B?");
    }

    void publishFields()
    {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, read);
        const auto shown = [](const auto &value) {
            if (!value)
                return QString("refused");
            if constexpr (std::is_same_v<std::decay_t<decltype(*value)>, int>)
                return QString::number(*value);
            else
                return QString::number(value->count());
        };
        QString got;
        if (field == "topic")
            got = PublishFields::IsTopic(text) ? "yes" : "refused";
        else if (field == "priority")
            got = shown(PublishFields::Priority(text));
        else if (field == "gotify")
            got = shown(PublishFields::GotifyPriority(text.toLongLong()));
        else if (field == "lifetime")
            got = shown(PublishFields::Lifetime(text));
        else if (field == "header")
            got = PublishFields::HeaderText(text.toUtf8());
        else
            got = shown(PublishFields::DisplayTime(text));
        QCOMPARE(got, read);
    }

    // The settings file as the relay reads it: what it understood, or the first line that is
    // wrong and what to write there.
    void settings_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("read");
        const QString defaults = "listen 127.0.0.1:8093, store relay.sqlite, lifetime 43200, "
                                 "timeout 10, standby 30, wake at 5, waiting 1000, rate 60";
        QTest::newRow("empty") << QByteArray() << defaults + ", receivers -, tokens -";
        QTest::newRow("as the guide shows it")
            << QByteArray("[Relay]\r\n; address:port to listen on\r\nListen=127.0.0.1:8093\r\n"
                          "Store=relay.sqlite\r\nLifetime=12h\r\nTimeout=10\r\nStandbyCheck=30\r\n"
                          "WakeAt=5\r\nMaxWaiting=1000\r\nRate=60\r\n\r\n[Receivers]\r\n"
                          "living-room=root:secret@192.168.1.20\r\nkitchen=https://192.168.1.21\r\n"
                          "[Tokens]\r\nhomeassistant=tk_3fa8c1d0e2b74c59\r\n[Wake]\r\n"
                          "192.168.1.20:80=00:09:34:AB:CD:EF\r\n")
            << defaults
                   + ", receivers kitchen=https://192.168.1.21 "
                     "living-room=192.168.1.20, tokens homeassistant, wake 192.168.1.20:80";
        QTest::newRow("the network, with a token")
            << QByteArray("[Relay]\nListen=0.0.0.0:8080\nRate=0\nWakeAt=6\n[Tokens]\nha=12345678\n")
            << "listen 0.0.0.0:8080, store relay.sqlite, lifetime 43200, timeout 10, standby 30, "
               "wake at 6, waiting 1000, rate 0, receivers -, tokens ha";
        QTest::newRow("IPv6") << QByteArray("[Relay]\nListen=[::1]:8093\n")
                              << QString(defaults).replace("127.0.0.1", "::1")
                                     + ", receivers -, tokens -";
        QTest::newRow("the network without a token")
            << QByteArray("[Relay]\nListen=0.0.0.0:8093\n")
            << "listening on the network needs at least one token in [Tokens]";
        QTest::newRow("listen without an address")
            << QByteArray("[Relay]\nListen=8093\n")
            << "line 2, Listen in [Relay]: write an IP address and a port, as 127.0.0.1:8093";
        QTest::newRow("listen at a name") << QByteArray("[relay]\nlisten=localhost:8093\n")
                                          << "line 2, listen in [Relay]: write an IP address and "
                                             "a port, as 127.0.0.1:8093";
        QTest::newRow("a lifetime that is none")
            << QByteArray("[Relay]\nLifetime=forever\n")
            << "line 2, Lifetime in [Relay]: write a duration up to a year, as 90s, 10m, 12h or 1d";
        QTest::newRow("WakeAt past 6") << QByteArray("[Relay]\nWakeAt=7\n")
                                       << "line 2, WakeAt in [Relay]: write a whole number from 1 "
                                          "to 6";
        QTest::newRow("a setting misspelt")
            << QByteArray("[Relay]\nLisen=127.0.0.1:8093\n")
            << "line 2, Lisen in [Relay]: no such setting: the settings are Listen, Store, "
               "Lifetime, Timeout, StandbyCheck, WakeAt, MaxWaiting and Rate";
        QTest::newRow("a name with a space")
            << QByteArray("[Receivers]\nliving room=192.168.1.20\n")
            << "line 2, living room in [Receivers]: a receiver's name is 1 to 64 of A-Z, a-z, "
               "0-9, - and _, and not \"all\"";
        QTest::newRow("a receiver named all")
            << QByteArray("[Receivers]\nALL=192.168.1.20\n")
            << "line 2, ALL in [Receivers]: a receiver's name is 1 to 64 of A-Z, a-z, 0-9, - and "
               "_, and not \"all\"";
        QTest::newRow("an address as the window refuses it")
            << QByteArray("[Receivers]\ntv=http://192.168.1.20\n")
            << "line 2, tv in [Receivers]: invalid receiver address: type it without http://";
        QTest::newRow("a broadcast hardware address")
            << QByteArray("[Wake]\n192.168.1.20:80=FF:FF:FF:FF:FF:FF\n")
            << "line 2, 192.168.1.20:80 in [Wake]: write the receiver's own hardware address, as "
               "00:09:34:AB:CD:EF";
        QTest::newRow("the first wrong line is named")
            << QByteArray("[Relay]\nTimeout=10\nRate=-1\nWakeAt=9\n")
            << "line 3, Rate in [Relay]: write a whole number from 0 to 100000";
        QTest::newRow("a comment after a value is part of it")
            << QByteArray("[Relay]\nTimeout=10 ; seconds\n")
            << "line 2, Timeout in [Relay]: write whole seconds from 1 to 86400";
        QTest::newRow("MQTT, every setting")
            << QByteArray("[MQTT]\nBroker=mqtts://broker.lan:8884\nFingerprint="
                          + QByteArray(32, 'a').toHex(':')
                          + "\nUser=ha\nPassword= p w \n"
                            "ClientId=tv.relay\nPrefix=home/tv\nDiscovery=\n")
            << defaults
                   + ", receivers -, tokens -, mqtt mqtts://broker.lan:8884 trusting 61:61:61, "
                     "user ha, password [p w], client tv.relay, prefix home/tv, discovery -";
        QTest::newRow("MQTT, host and port only")
            << QByteArray("[MQTT]\nBroker=192.168.1.2:1883\n")
            << defaults
                   + ", receivers -, tokens -, mqtt mqtt://192.168.1.2:1883, client "
                     "quillora-relay-HOST, prefix quillora, discovery homeassistant";
        QTest::newRow("MQTT, the scheme's own port")
            << QByteArray("[mqtt]\nbroker=MQTTS://broker\n")
            << defaults
                   + ", receivers -, tokens -, mqtt mqtts://broker:8883, client "
                     "quillora-relay-HOST, prefix quillora, discovery homeassistant";
        QTest::newRow("MQTT, IPv6") << QByteArray("[MQTT]\nBroker=mqtt://[fd00::2]\n")
                                    << defaults
                                           + ", receivers -, tokens -, mqtt mqtt://fd00::2:1883, "
                                             "client quillora-relay-HOST, prefix quillora, "
                                             "discovery homeassistant";
        QTest::newRow("MQTT, a host without a port")
            << QByteArray("[MQTT]\nBroker=broker.lan\n")
            << "line 2, Broker in [MQTT]: write host:port, as 192.168.1.2:1883, or "
               "mqtts://host:port for TLS";
        QTest::newRow("MQTT, a web address") << QByteArray("[MQTT]\nBroker=http://broker:1883\n")
                                             << "line 2, Broker in [MQTT]: write host:port, as "
                                                "192.168.1.2:1883, or mqtts://host:port for TLS";
        QTest::newRow("MQTT, no broker")
            << QByteArray("[MQTT]\nUser=ha\n")
            << "[MQTT] names no Broker: write Broker=host:port, or leave the section out";
        QTest::newRow("MQTT, a wildcard in the prefix")
            << QByteArray("[MQTT]\nBroker=b:1883\nPrefix=home/#\n")
            << "line 3, Prefix in [MQTT]: write topic levels without + or #, as quillora or "
               "home/tv";
        QTest::newRow("MQTT, an empty level") << QByteArray("[MQTT]\nBroker=b:1883\nPrefix=home/\n")
                                              << "line 3, Prefix in [MQTT]: write topic levels "
                                                 "without + or #, as quillora or home/tv";
        QTest::newRow("MQTT, a client id with a space")
            << QByteArray("[MQTT]\nBroker=b:1883\nClientId=my relay\n")
            << "line 3, ClientId in [MQTT]: write 1 to 64 of A-Z, a-z, 0-9, '.', '-' and '_'";
        QTest::newRow("MQTT, a setting misspelt")
            << QByteArray("[MQTT]\nBrokr=b:1883\n")
            << "line 2, Brokr in [MQTT]: no such setting: the settings are Broker, Fingerprint, "
               "User, Password, ClientId, Prefix and Discovery";
        QTest::newRow("other sections are not the relay's")
            << QByteArray("[Dreambox]\nIP=192.168.1.20\n") << defaults + ", receivers -, tokens -";
    }

    void settings()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, read);
        const auto settings = ReadRelaySettings(file);
        if (const QString *why = std::get_if<QString>(&settings)) {
            QCOMPARE(*why, read);
            return;
        }
        const RelaySettings &got = std::get<RelaySettings>(settings);
        QStringList receivers;
        for (auto receiver = got.receivers.cbegin(); receiver != got.receivers.cend(); ++receiver)
            receivers += receiver.key() + '=' + receiver.value().shown();
        const QString listen = got.listenAddress.toString() + ':' + QString::number(got.listenPort);
        QString said
            = QString("listen %1, store %2, lifetime %3, timeout %4, standby %5, wake at "
                      "%6, waiting %7, rate %8, receivers %9, tokens %10")
                  .arg(listen, got.store)
                  .arg(got.lifetime.count())
                  .arg(got.timeout.count())
                  .arg(got.standbyCheck.count())
                  .arg(got.wakeAt)
                  .arg(got.maxWaiting)
                  .arg(got.rate)
                  .arg(receivers.isEmpty() ? "-" : receivers.join(' '),
                       got.tokens.isEmpty() ? "-" : QStringList(got.tokens.keys()).join(' '));
        if (!got.hardwareAddresses.isEmpty())
            said += ", wake " + QStringList(got.hardwareAddresses.keys()).join(' ');
        if (const auto &mqtt = got.mqtt) {
            said += QString(", mqtt %1://%2:%3")
                        .arg(mqtt->tls ? "mqtts" : "mqtt", mqtt->host)
                        .arg(mqtt->port);
            if (!mqtt->fingerprint.isEmpty())
                said += " trusting " + mqtt->fingerprint.left(3).toHex(':');
            if (!mqtt->user.isEmpty())
                said += ", user " + mqtt->user + ", password [" + mqtt->password + ']';
            said += QString(", client %1, prefix %2, discovery %3")
                        .arg(mqtt->clientIdOr("HOST"),
                             mqtt->prefix,
                             mqtt->discovery.isEmpty() ? "-" : mqtt->discovery);
        }
        QCOMPARE(said, read);
    }

    // Requests as ntfy's publishers, webhooks and Gotify send them: the message read, or ntfy's
    // code and status, or "not a publish".
    void publication_data()
    {
        QTest::addColumn<QString>("request"); // METHOD path?query, then "Header: value" lines
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("read");
        const auto row
            = [](const char *name, const char *request, const QByteArray &body, const char *read) {
                  QTest::newRow(name)
                      << QString::fromUtf8(request) << body << QString::fromUtf8(read);
              };
        row("ntfy, the body", "POST /kitchen", "Backup done", "ntfy kitchen 3 [] Backup done");
        row("ntfy, PUT", "PUT /kitchen", "Backup done", "ntfy kitchen 3 [] Backup done");
        row("ntfy, headers in any case",
            "POST /kitchen\nx-title: Backup\nPRIORITY: high\nX-Type: Warning",
            "Done",
            "ntfy kitchen 4 [Backup] Done warning");
        row("ntfy, short header names",
            "POST /kitchen\nt: Door\np: 5",
            "Ring",
            "ntfy kitchen 5 [Door] Ring");
        row("ntfy, query names",
            "POST /kitchen?title=Door&priority=urgent&timeout=20&lifetime=2h",
            "Ring",
            "ntfy kitchen 5 [Door] Ring display 20 lifetime 7200");
        row("ntfy, query names only in lower case",
            "POST /kitchen?Title=Door",
            "Ring",
            "ntfy kitchen 3 [] Ring");
        row("ntfy, GET publish",
            "GET /kitchen/publish?message=Ring&t=Door",
            "",
            "ntfy kitchen 3 [Door] Ring");
        row("ntfy, GET trigger", "GET /kitchen/trigger", "", "ntfy kitchen 3 [] triggered");
        row("ntfy, JSON to /",
            "POST /",
            R"({"topic":"kitchen","message":"Ring","title":"Door","priority":4})",
            "ntfy kitchen 4 [Door] Ring");
        row("ntfy, JSON without a topic", "POST /", R"({"message":"Ring"})", "refused 400 40009");
        row("ntfy, JSON that is none", "POST /", "{", "refused 400 40017");
        row("ntfy, priority that is none", "POST /kitchen\nPriority: 6", "x", "refused 400 40007");
        row("ntfy, a topic that is no name", "POST /a b", "x", "refused 400 40009");
        row("ntfy, a type that is none", "POST /kitchen?type=popup", "x", "refused 400 40000");
        row("ntfy, a lifetime that is none",
            "POST /kitchen\nX-Lifetime: soon",
            "x",
            "refused 400 40000");
        row("text of 4096 bytes",
            "POST /kitchen",
            QByteArray(4096, 'x'),
            "ntfy kitchen 3 [] 4096 bytes");
        row("text of 4097 bytes", "POST /kitchen", QByteArray(4097, 'x'), "refused 413 41301");
        row("text that is no UTF-8", "POST /kitchen", "\xff\xfe", "refused 400 40011");
        row("webhook, JSON",
            "POST /kitchen\nContent-Type: application/json; charset=utf-8",
            R"({"message":"Ring","title":"Door","type":"error","timeout":"5"})",
            "ntfy kitchen 3 [Door] Ring error display 5");
        row("webhook, JSON without message is the text",
            "POST /kitchen\nContent-Type: application/json",
            R"({"text":"Ring"})",
            R"(ntfy kitchen 3 [] {"text":"Ring"})");
        row("webhook, a form",
            "POST /kitchen\nContent-Type: application/x-www-form-urlencoded",
            "message=Ring+twice&title=Front%20door",
            "ntfy kitchen 3 [Front door] Ring twice");
        row("Gotify, JSON",
            "POST /message\nContent-Type: application/json",
            R"({"message":"Disk full","title":"NAS","priority":8})",
            "gotify all 5 [NAS] Disk full");
        row("Gotify, a form, low",
            "POST /message\nContent-Type: application/x-www-form-urlencoded",
            "message=Done&priority=0",
            "gotify all 2 [] Done");
        row("Gotify, priority past 10",
            "POST /message\nContent-Type: application/json",
            R"({"message":"x","priority":11})",
            "refused 400 40007");
        row("Gotify, plain text", "POST /message", "Done", "refused 400 40000");
        row("ntfy, a question",
            "POST /kitchen\nX-Type: Question\nX-Timeout: 30",
            "Lights off?",
            "ntfy kitchen 3 [] Lights off? question display 30");
        row("MQTT, plain text", "MQTT /kitchen", "Ring", "mqtt kitchen 3 [] Ring");
        row("MQTT, JSON with every field",
            "MQTT /all",
            R"({"message":"Off?","title":"Lights","priority":"high","type":"question",)"
            R"("timeout":30,"lifetime":"10m","id":"lights-7"})",
            "mqtt all 4 [Lights] Off? question display 30 lifetime 600 id lights-7");
        row("MQTT, JSON without message", "MQTT /kitchen", R"({"title":"x"})", "refused 400 40017");
        row("MQTT, a message that is no text",
            "MQTT /kitchen",
            R"({"message":["Ring"]})",
            "refused 400 40017");
        row("MQTT, JSON that is none", "MQTT /kitchen", " {Ring", "refused 400 40017");
        row("MQTT, nothing", "MQTT /kitchen", " \n", "refused 400 40000");
        row("MQTT, no UTF-8", "MQTT /kitchen", "\xc3\x28", "refused 400 40011");
        row("MQTT, 4097 bytes", "MQTT /kitchen", QByteArray(4097, 'x'), "refused 413 41301");
        row("MQTT, an id too long",
            "MQTT /kitchen",
            R"({"message":"x","id":")" + QByteArray(129, 'i') + R"("})",
            "refused 400 40000");
        row("another path", "GET /v1/health", "", "not a publish");
        row("a subscription", "GET /kitchen/json", "", "not a publish");
    }

    void publication()
    {
        QFETCH(QString, request);
        QFETCH(QByteArray, body);
        QFETCH(QString, read);
        const QStringList lines = request.split('\n');
        Publication::Request given;
        given.method = lines.first().section(' ', 0, 0).toLatin1();
        const QUrl url("http://relay" + lines.first().section(' ', 1));
        given.path = url.path();
        for (const auto &[key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded))
            given.query += {key, value};
        for (const QString &line : lines.mid(1))
            given.headers
                += {line.section(':', 0, 0).toLatin1(), line.section(':', 1).trimmed().toUtf8()};
        given.body = body;
        const auto got = given.method == "MQTT"
                             ? std::optional(Publication::FromPayload(url.path().mid(1), body))
                             : Publication::Read(given);
        QString said = "not a publish";
        if (got && std::holds_alternative<Publication::Refusal>(*got)) {
            const auto &refusal = std::get<Publication::Refusal>(*got);
            said = QString("refused %1 %2").arg(refusal.http).arg(refusal.code);
            QVERIFY(!refusal.error.isEmpty());
        } else if (got) {
            const auto &message = std::get<Publication::Message>(*got);
            const QString text = message.text.size() > 100
                                     ? QString::number(message.text.size()) + " bytes"
                                     : message.text;
            said = QString("%1 %2 %3 [%4] %5")
                       .arg(QStringList{"ntfy", "gotify", "mqtt"}[int(message.dialect)],
                            message.topic)
                       .arg(message.priority)
                       .arg(message.title, text);
            if (!message.type.isEmpty())
                said += ' ' + message.type;
            if (message.display)
                said += " display " + QString::number(message.display->count());
            if (message.lifetime)
                said += " lifetime " + QString::number(message.lifetime->count());
            if (!message.reference.isEmpty())
                said += " id " + message.reference;
        }
        QCOMPARE(said, read);
    }

    // Home Assistant's discovery configs for the receiver living-room, under the prefix home/tv,
    // field by field as its MQTT documentation asks for each kind of entity.
    void discovery_data()
    {
        QTest::addColumn<QString>("topic"); // under homeassistant/
        QTest::addColumn<QString>("field"); // a path of names; "*" for the whole payload
        QTest::addColumn<QString>("value"); // as compact JSON
        const auto row = [](const char *topic, const char *field, const char *value) {
            QTest::addRow("%s %s", topic, field) << topic << field << value;
        };
        const char *notify = "notify/quillora_living-room/message/config";
        const char *screen = "binary_sensor/quillora_living-room/screen/config";
        const char *waiting = "sensor/quillora_living-room/waiting/config";
        const char *wake = "button/quillora_living-room/wake/config";
        const char *answer = "event/quillora_living-room/answer/config";
        for (const char *each : {notify, screen, waiting, wake, answer}) {
            row(each, "device.identifiers", R"(["quillora_living-room"])");
            row(each, "device.manufacturer", R"("Quillora")");
            row(each, "device.via_device", R"("quillora_relay_relay-1")");
            row(each, "availability_topic", R"("home/tv/relay/availability")");
        }
        row(notify, "name", "null"); // the entity is named for its device
        row(notify, "unique_id", R"("quillora_living-room_message")");
        row(notify, "command_topic", R"("home/tv/living-room/notify")");
        row(screen, "name", R"("Screen on")");
        row(screen, "state_topic", R"("home/tv/living-room/state")");
        row(screen, "device_class", R"("power")");
        row(waiting, "name", R"("Messages waiting")");
        row(waiting, "value_template", R"("{{ value_json.waiting }}")");
        row(waiting, "state_class", R"("measurement")");
        row(wake, "name", R"("Wake")");
        row(wake, "command_topic", R"("home/tv/living-room/wake")");
        row(answer, "name", R"("Answer")");
        row(answer, "state_topic", R"("home/tv/living-room/answer")");
        row(answer, "event_types", R"(["yes","no","none"])");
        const char *relay = "binary_sensor/quillora_relay_relay-1/connected/config";
        row(relay, "device.identifiers", R"(["quillora_relay_relay-1"])");
        row(relay, "device_class", R"("connectivity")");
        row(relay, "state_topic", R"("home/tv/relay/availability")");
        row(relay, "payload_on", R"("online")");
        row(relay, "payload_off", R"("offline")");
    }

    void discovery()
    {
        QFETCH(QString, topic);
        QFETCH(QString, field);
        QFETCH(QString, value);
        const MqttPayloads::Topics topics{"home/tv", "homeassistant", "relay-1"};
        MqttPayloads::Retained all = MqttPayloads::DiscoveryConfigs(topics, "living-room", "1.0");
        all += MqttPayloads::RelayConfig(topics, "1.0");
        QByteArray payload;
        for (const auto &[where, what] : all)
            if (where == "homeassistant/" + topic)
                payload = what;
        QJsonValue found = QJsonDocument::fromJson(payload).object();
        for (const QString &name : field.split('.'))
            found = found.toObject().value(name);
        QVERIFY2(!found.isUndefined(), qPrintable(payload));
        const QByteArray got = QJsonDocument(QJsonArray{found}).toJson(QJsonDocument::Compact);
        QCOMPARE(QString::fromUtf8(got.mid(1, got.size() - 2)), value);
    }

    // The relay's topics: what each that it listens to asks, and what it publishes.
    void mqttTopics_data()
    {
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QString>("asked");
        const auto row = [](const char *name, const char *topic, const char *asked) {
            QTest::newRow(name) << QString(topic) << QString(asked);
        };
        row("a receiver's messages", "home/tv/living-room/notify", "notify living-room");
        row("every receiver's", "home/tv/all/notify", "notify all");
        row("a wake", "home/tv/kitchen/wake", "wake kitchen");
        row("waking all is no command", "home/tv/all/wake", "-");
        row("its own state", "home/tv/kitchen/state", "-");
        row("a name that is none", "home/tv/a b/notify", "-");
        row("a level more", "home/tv/kitchen/notify/x", "-");
        row("another prefix", "home/tvs/kitchen/notify", "-");
    }

    void mqttTopics()
    {
        QFETCH(QString, topic);
        QFETCH(QString, asked);
        const MqttPayloads::Topics topics{"home/tv", "homeassistant", "relay-1"};
        const auto got = topics.asked(topic);
        QCOMPARE(got ? QString(got->kind == MqttPayloads::Topics::Asked::Kind::Wake ? "wake "
                                                                                    : "notify ")
                           + got->receiver
                     : "-",
                 asked);
    }

    // The state, the answers and the configs taken back, as the broker gets them.
    void mqttPayloads()
    {
        const MqttPayloads::Topics topics{"q", "ha", "r"};
        QCOMPARE(MqttPayloads::StateJson({}),
                 QByteArray(R"({"last":null,"power":"unknown","waiting":0})"));
        QCOMPARE(MqttPayloads::StateJson({"standby", 2, 17, "held-standby", 1700000000}),
                 QByteArray(R"({"last":{"at":1700000000,"id":"17","state":"held-standby"},)"
                            R"("power":"standby","waiting":2})"));
        QCOMPARE(MqttPayloads::AnswerJson("door-1", 9, "yes"),
                 QByteArray(R"({"answer":"yes","id":"door-1","message":"9"})"));
        QCOMPARE(MqttPayloads::AnswerJson({}, 9, "none"),
                 QByteArray(R"({"answer":"none","id":"9","message":"9"})"));
        const MqttPayloads::Retained cleared = MqttPayloads::ClearedConfigs(topics, "kitchen");
        QCOMPARE(cleared.size(), 6);
        for (const auto &[topic, payload] : cleared)
            QVERIFY2(payload.isEmpty() && (topic.startsWith("ha/") || topic == "q/kitchen/state"),
                     qPrintable(topic));
    }

    // Which token a request carries, with the tokens ha (secret tk_3fa8c1d0) and kuma
    // (secret kuma-secret-1).
    void tokens_data()
    {
        QTest::addColumn<QString>("header"); // "Name: value", or empty
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("carried");
        const auto basic = [](const char *credentials) {
            return "Authorization: Basic " + QByteArray(credentials).toBase64();
        };
        const auto auth = [](const QByteArray &header) {
            return "auth="
                   + header.toBase64(QByteArray::Base64UrlEncoding
                                     | QByteArray::OmitTrailingEquals);
        };
        const auto row =
            [](const char *name, const QString &header, const QString &query, const char *carried) {
                QTest::newRow(name) << header << query << QString(carried);
            };
        row("none", "", "", "none");
        row("bearer", "Authorization: Bearer tk_3fa8c1d0", "", "ha");
        row("bearer in other case", "authorization: bearer kuma-secret-1", "", "kuma");
        row("bearer, wrong secret", "Authorization: Bearer tk_3fa8c1d1", "", "none");
        row("bearer, a secret's start", "Authorization: Bearer tk_3fa8", "", "none");
        row("bearer, more than a secret", "Authorization: Bearer tk_3fa8c1d0x", "", "none");
        row("basic, name and secret", basic("ha:tk_3fa8c1d0"), "", "ha");
        row("basic, another token's name", basic("kuma:tk_3fa8c1d0"), "", "none");
        row("basic that is no base64", "Authorization: Basic !!!", "", "none");
        row("ntfy's auth, bearer", "", auth("Bearer kuma-secret-1"), "kuma");
        row("ntfy's auth, basic",
            "",
            auth("Basic " + QByteArray("ha:tk_3fa8c1d0").toBase64()),
            "ha");
        row("Gotify's key", "X-Gotify-Key: tk_3fa8c1d0", "", "ha");
        row("Gotify's token", "", "token=kuma-secret-1", "kuma");
        row("an empty secret", "Authorization: Bearer ", "", "none");
    }

    void tokens()
    {
        QFETCH(QString, header);
        QFETCH(QString, query);
        QFETCH(QString, carried);
        Publication::Request request;
        if (!header.isEmpty())
            request.headers += {header.section(':', 0, 0).toLatin1(),
                                header.section(':', 1).trimmed().toLatin1()};
        if (!query.isEmpty())
            request.query += {query.section('=', 0, 0), query.section('=', 1)};
        const QMap<QString, QByteArray> tokens{{"ha", "tk_3fa8c1d0"}, {"kuma", "kuma-secret-1"}};
        QCOMPARE(Tokens::Carried(request, tokens).value_or("none"), carried);
        QCOMPARE(Tokens::Allowed(request, tokens), carried != "none");
        QVERIFY(Tokens::Allowed(request, {})); // where no token is set, any request is
    }

    // The answers in each dialect's JSON, as its clients read them; a text from a publisher
    // stays a JSON string whatever it holds.
    void answers()
    {
        Publication::Message message;
        message.topic = "kitchen";
        message.text = "Ring \"twice\"\n\x1B[2J";
        message.title = "Door";
        message.priority = 5;
        const QDateTime accepted = QDateTime::fromSecsSinceEpoch(1765180800, Qt::UTC);
        QCOMPARE(Answers::NtfyMessage(42, accepted, accepted.addSecs(43200), message),
                 "{\"event\":\"message\",\"expires\":1765224000,\"id\":\"42\",\"message\":\"Ring "
                 "\\\"twice\\\"\\n\\u001b[2J\",\"priority\":5,\"time\":1765180800,\"title\":"
                 "\"Door\",\"topic\":\"kitchen\"}");
        message.priority = 3;
        message.title.clear();
        QVERIFY(!Answers::NtfyMessage(1, accepted, accepted, message).contains("priority"));
        QVERIFY(!Answers::NtfyMessage(1, accepted, accepted, message).contains("title"));
        QCOMPARE(
            Answers::NtfyError({413, 41301, "the message is longer than 4096 bytes"}),
            "{\"code\":41301,\"error\":\"the message is longer than 4096 bytes\",\"http\":413}");
        message.priority = 5;
        QCOMPARE(Answers::GotifyMessage(7, accepted, message),
                 "{\"appid\":1,\"date\":\"2025-12-08T08:00:00Z\",\"id\":7,\"message\":\"Ring "
                 "\\\"twice\\\"\\n\\u001b[2J\",\"priority\":8,\"title\":\"\"}");
        QCOMPARE(
            Answers::GotifyError({401, 40101, "no token"}),
            "{\"error\":\"Unauthorized\",\"errorCode\":401,\"errorDescription\":\"no token\"}");
    }
};

QTEST_GUILESS_MAIN(TestRelay)
#include "test_relay.moc"
