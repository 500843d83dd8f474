#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <variant>

struct sqlite3;

// The relay's queue on disk (SQLite, write-ahead log): every accepted message, and for each of
// its receivers where it stands. A change is durable when the call that made it returns, so that
// a relay killed at any moment, started again, finds every message it had answered for.
class RelayStore
{
public:
    // Where a message stands for one receiver. Waiting, held and sending are still to be shown.
    enum class State {
        Waiting,
        HeldStandby,     // the screen is dark: asked again later
        HeldUnreachable, // nothing answered: tried again later
        Sending,         // on its way: if the relay stops now, it goes once more on the next start
        Shown,
        Expired,  // its lifetime ended before it could be shown
        Failed,   // trying again could not mend what went wrong
        Replaced, // an identical message came while it waited, and took its place
    };

    // A message as accepted. Times in milliseconds since the epoch; display in seconds, 0 for
    // the relay's Timeout.
    struct Message
    {
        qint64 id = 0;
        qint64 accepted = 0;
        qint64 expires = 0;
        QString topic;
        QString title;
        QString text;
        QString type; // info, warning or error
        int priority = 3;
        qint64 display = 0;
        QString reference; // the publisher's own id for it
        QString origin;    // an MQTT message: where it came from, to know it when sent again
    };

    struct Delivery
    {
        QString receiver;
        State state = State::Waiting;
        qint64 changed = 0;
        QString reason; // why it failed or is held
        QString answer; // a question's: yes, no or none
    };

    struct Status
    {
        Message message;
        QList<Delivery> deliveries;
    };

    // A message still to be shown to a receiver, in the order the receiver shows them.
    struct Pending
    {
        qint64 id = 0;
        qint64 expires = 0;
        int priority = 3;
        qint64 display = 0;
    };

    // A message to accept, for its receivers; id is filled in when it is.
    struct Publish
    {
        Message message;
        QStringList receivers;
        std::optional<qint64> id; // none: a receiver had maxWaiting messages waiting already
        // Delivered again by the broker: if a message of the same origin was accepted, it is
        // that one (the id), and this stays true; else it is accepted as any other.
        bool again = false;
    };

    // The store's file at path, made where missing: the file readable by this user alone, in a
    // folder of its own (made so when it is missing). Or why it can't be opened.
    static std::variant<std::unique_ptr<RelayStore>, QString> Open(const QString &path);
    ~RelayStore();
    RelayStore(const RelayStore &) = delete;
    RelayStore &operator=(const RelayStore &) = delete;

    // Accepts them all in one commit. A message identical in topic, title and text to one still
    // waiting for the same receiver takes its place in the line. A publish that would make more
    // than maxWaiting wait for a receiver is not accepted (its id stays empty). The error, if
    // the commit failed: then nothing was accepted.
    std::optional<QString> Add(QList<Publish> &publishes, int maxWaiting);

    // What stopped while it was being sent is sent once more; what stopped so a second time is
    // failed, as it may have been shown. Done once, at the start.
    std::optional<QString> Recover(qint64 now);

    QList<Pending> PendingFor(const QString &receiver) const;
    std::optional<Message> Find(qint64 id) const;
    std::optional<Status> StatusOf(qint64 id) const;
    QList<Status> Recent(int count) const; // the newest first

    std::optional<QString>
    Set(qint64 id, const QString &receiver, State state, qint64 now, const QString &reason = {});

    std::optional<QString> SetAnswer(qint64 id, const QString &receiver, const QString &answer);

    // The receivers whose entities were last announced to home automation, to take back those
    // no longer in the settings.
    QStringList Announced() const;
    std::optional<QString> SetAnnounced(const QStringList &receivers);

    // Identical messages (topic, title, text) that wait for the receiver become one: the newest,
    // in the place of the first. For when a message comes back from a send that showed nothing,
    // and one like it came meanwhile.
    std::optional<QString> MergeIdentical(qint64 id, const QString &receiver, qint64 now);

    static QString Name(State state); // as the status endpoint says it

private:
    explicit RelayStore(sqlite3 *db);
    std::optional<QString> Execute(const char *sql);
    std::optional<QString> InTransaction(const std::function<std::optional<QString>()> &work);
    std::optional<QString> AddOne(Publish &publish, int maxWaiting);
    bool Forget();
    QList<Delivery> DeliveriesOf(qint64 id) const;
    QString Error() const;

    sqlite3 *m_db = nullptr;
    qint64 m_commits = 0;
};
