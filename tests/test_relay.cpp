// The relay's rules: when each receiver is sent which message, from what the relay knows.
#include "PublishFields.h"
#include "RelayRules.h"

#include <QTest>

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
        else
            got = shown(PublishFields::DisplayTime(text));
        QCOMPARE(got, read);
    }
};

QTEST_GUILESS_MAIN(TestRelay)
#include "test_relay.moc"
