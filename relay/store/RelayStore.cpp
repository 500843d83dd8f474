#include "RelayStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <algorithm>
#include <functional>

namespace {

// Messages kept once nothing is left to do with them: enough for the status endpoint; more are
// forgotten once in so many commits.
constexpr int KeptWhenDone = 1000;
constexpr int ForgetEvery = 64;

// What the store is made of. A delivery's line is its place in the receiver's line: the id of
// the message that first took it.
const char *const Schema = R"(
CREATE TABLE IF NOT EXISTS messages(
    id INTEGER PRIMARY KEY, accepted INTEGER NOT NULL, expires INTEGER NOT NULL,
    topic TEXT NOT NULL, title TEXT NOT NULL, text TEXT NOT NULL, type TEXT NOT NULL,
    priority INTEGER NOT NULL, display INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS deliveries(
    message INTEGER NOT NULL, receiver TEXT NOT NULL, line INTEGER NOT NULL,
    state INTEGER NOT NULL, changed INTEGER NOT NULL, reason TEXT NOT NULL DEFAULT '',
    resent INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(message, receiver));
CREATE INDEX IF NOT EXISTS pending ON deliveries(receiver, line) WHERE state <= 3;
CREATE INDEX IF NOT EXISTS same ON messages(topic, title, text);
CREATE TABLE IF NOT EXISTS announced(receiver TEXT PRIMARY KEY);
)";

// What a store made before questions and MQTT lacks: the publisher's id for a message, where an
// MQTT message came from, and a question's answer.
const char *const Version1 = R"(
ALTER TABLE messages ADD COLUMN reference TEXT NOT NULL DEFAULT '';
ALTER TABLE messages ADD COLUMN origin TEXT NOT NULL DEFAULT '';
ALTER TABLE deliveries ADD COLUMN answer TEXT NOT NULL DEFAULT '';
CREATE INDEX origin ON messages(origin) WHERE origin != '';
PRAGMA user_version = 1;
)";

// One statement, bound and stepped; finalized however the function using it returns.
class Statement
{
public:
    Statement(sqlite3 *db, const char *sql)
    {
        sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int index, qint64 value)
    {
        sqlite3_bind_int64(m_statement, index, value);
        return *this;
    }
    Statement &bind(int index, const QString &value)
    {
        const QByteArray utf8 = value.toUtf8();
        sqlite3_bind_text(m_statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
        return *this;
    }
    bool row() { return m_statement && sqlite3_step(m_statement) == SQLITE_ROW; }
    bool done() { return m_statement && sqlite3_step(m_statement) == SQLITE_DONE; }
    qint64 integer(int column) const { return sqlite3_column_int64(m_statement, column); }
    QString text(int column) const
    {
        return QString::fromUtf8(
            reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column)),
            sqlite3_column_bytes(m_statement, column));
    }

private:
    sqlite3_stmt *m_statement = nullptr;
};

RelayStore::Message messageFrom(const Statement &row)
{
    RelayStore::Message message;
    message.id = row.integer(0);
    message.accepted = row.integer(1);
    message.expires = row.integer(2);
    message.topic = row.text(3);
    message.title = row.text(4);
    message.text = row.text(5);
    message.type = row.text(6);
    message.priority = int(row.integer(7));
    message.display = row.integer(8);
    message.reference = row.text(9);
    return message;
}

const char *const MessageColumns = "SELECT id, accepted, expires, topic, title, text, type, "
                                   "priority, display, reference FROM messages ";

// A folder of this user's alone, where the store has none yet.
std::optional<QString> prepareFile(const QString &path)
{
    const QFileInfo file(path);
    const QString folder = file.absolutePath();
    if (!QFileInfo::exists(folder)) {
        if (!QDir().mkpath(folder))
            return QStringLiteral("its folder %1 can't be made")
                .arg(QDir::toNativeSeparators(folder));
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    if (file.exists())
        return std::nullopt;
    // SQLite gives its log files the permissions of the file itself.
    QFile created(path);
    if (!created.open(QIODevice::WriteOnly))
        return created.errorString();
    created.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    return std::nullopt;
}

} // namespace

RelayStore::RelayStore(sqlite3 *db)
    : m_db(db)
{}

RelayStore::~RelayStore()
{
    sqlite3_close(m_db);
}

std::variant<std::unique_ptr<RelayStore>, QString> RelayStore::Open(const QString &path)
{
    const auto failed = [&path](const QString &why) {
        return QStringLiteral("the store %1 can't be opened: %2")
            .arg(QDir::toNativeSeparators(path), why);
    };
    if (const auto why = prepareFile(path))
        return failed(*why);
    sqlite3 *db = nullptr;
    const int opened = sqlite3_open_v2(QFile::encodeName(path).constData(),
                                       &db,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                                       nullptr);
    std::unique_ptr<RelayStore> store(new RelayStore(db));
    if (opened != SQLITE_OK)
        return failed(store->Error());
    sqlite3_busy_timeout(db, 5000);
    // Each commit reaches the disk before the call returns: FULL syncs the log on every commit.
    for (const char *sql : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", Schema})
        if (const auto why = store->Execute(sql))
            return failed(*why);
    Statement version(db, "PRAGMA user_version");
    if (!version.row())
        return failed(store->Error());
    if (version.integer(0) < 1)
        if (const auto why = store->InTransaction([&store] { return store->Execute(Version1); }))
            return failed(*why);
    return store;
}

std::optional<QString> RelayStore::Execute(const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) == SQLITE_OK)
        return std::nullopt;
    const QString why = error ? QString::fromUtf8(error) : Error();
    sqlite3_free(error);
    return why;
}

QString RelayStore::Error() const
{
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("out of memory");
}

// Runs work in one transaction: all of it is committed, or none of it, and why.
std::optional<QString>
RelayStore::InTransaction(const std::function<std::optional<QString>()> &work)
{
    if (const auto why = Execute("BEGIN IMMEDIATE"))
        return why;
    std::optional<QString> why = work();
    if (!why)
        why = Execute("COMMIT");
    if (why)
        Execute("ROLLBACK");
    return why;
}

std::optional<QString> RelayStore::Add(QList<Publish> &publishes, int maxWaiting)
{
    const auto why = InTransaction([&]() -> std::optional<QString> {
        for (Publish &publish : publishes)
            if (auto why = AddOne(publish, maxWaiting))
                return why;
        if (m_commits++ % ForgetEvery == 0 && !Forget())
            return Error();
        return std::nullopt;
    });
    if (why)
        for (Publish &undone : publishes)
            undone.id.reset();
    return why;
}

// What is done with is forgotten, but for the newest: once in so many commits, as it reads
// every delivery older than those.
bool RelayStore::Forget()
{
    Statement oldest(m_db, "SELECT id FROM messages ORDER BY id DESC LIMIT 1 OFFSET ?");
    if (!oldest.bind(1, KeptWhenDone).row())
        return true;
    const qint64 below = oldest.integer(0);
    Statement messages(m_db,
                       "DELETE FROM messages WHERE id <= ? AND NOT EXISTS (SELECT 1 FROM "
                       "deliveries WHERE message = messages.id AND state <= 3)");
    Statement deliveries(m_db,
                         "DELETE FROM deliveries WHERE message <= ? AND message NOT IN (SELECT "
                         "id FROM messages WHERE id <= ?)");
    return messages.bind(1, below).done() && deliveries.bind(1, below).bind(2, below).done();
}

std::optional<QString> RelayStore::AddOne(Publish &publish, int maxWaiting)
{
    Message &message = publish.message;
    if (publish.again) { // the broker's second delivery of what may have been taken already
        Statement taken(m_db, "SELECT id FROM messages WHERE origin = ? ORDER BY id DESC LIMIT 1");
        if (taken.bind(1, message.origin).row()) {
            publish.id = taken.integer(0);
            return std::nullopt;
        }
        publish.again = false;
    }
    // The identical message each receiver still has waiting, whose place this one takes.
    QList<std::pair<qint64, qint64>> replaced; // message, line
    for (const QString &receiver : std::as_const(publish.receivers)) {
        Statement same(m_db,
                       "SELECT d.message, d.line FROM messages m JOIN deliveries d ON d.message "
                       "= m.id WHERE d.receiver = ? AND d.state IN (0, 1, 2) AND m.topic = ? "
                       "AND m.title = ? AND m.text = ? ORDER BY d.line LIMIT 1");
        same.bind(1, receiver).bind(2, message.topic).bind(3, message.title).bind(4, message.text);
        if (same.row()) {
            replaced += {same.integer(0), same.integer(1)};
            continue;
        }
        replaced += {0, 0};
        Statement count(m_db, "SELECT count(*) FROM deliveries WHERE receiver = ? AND state <= 3");
        if (!count.bind(1, receiver).row())
            return Error();
        if (count.integer(0) >= maxWaiting)
            return std::nullopt; // not accepted, and nothing of it stored
    }
    Statement insert(m_db,
                     "INSERT INTO messages(accepted, expires, topic, title, text, type, priority, "
                     "display, reference, origin) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    insert.bind(1, message.accepted).bind(2, message.expires).bind(3, message.topic);
    insert.bind(4, message.title).bind(5, message.text).bind(6, message.type);
    insert.bind(7, message.priority).bind(8, message.display).bind(9, message.reference);
    insert.bind(10, message.origin);
    if (!insert.done())
        return Error();
    message.id = sqlite3_last_insert_rowid(m_db);
    for (qsizetype i = 0; i < publish.receivers.size(); ++i) {
        const auto [earlier, line] = replaced[i];
        if (earlier) {
            Statement old(m_db,
                          "UPDATE deliveries SET state = 7, changed = ?, reason = ? WHERE "
                          "message = ? AND receiver = ?");
            old.bind(1, message.accepted)
                .bind(2, QStringLiteral("replaced by message %1").arg(message.id));
            if (!old.bind(3, earlier).bind(4, publish.receivers[i]).done())
                return Error();
        }
        Statement delivery(m_db,
                           "INSERT INTO deliveries(message, receiver, line, state, changed) "
                           "VALUES (?, ?, ?, 0, ?)");
        delivery.bind(1, message.id).bind(2, publish.receivers[i]);
        if (!delivery.bind(3, earlier ? line : message.id).bind(4, message.accepted).done())
            return Error();
    }
    publish.id = message.id;
    return std::nullopt;
}

std::optional<QString> RelayStore::Recover(qint64 now)
{
    Statement again(m_db,
                    "UPDATE deliveries SET state = 0, changed = ?, resent = 1 WHERE state = 3 AND "
                    "resent = 0");
    Statement twice(
        m_db,
        "UPDATE deliveries SET state = 6, changed = ?, reason = ? WHERE state = 3 AND resent = 1");
    twice.bind(1, now).bind(2,
                            QStringLiteral("the relay stopped twice while sending it; it may "
                                           "have been shown, so it is not sent again"));
    if (!twice.done() || !again.bind(1, now).done())
        return Error();
    return std::nullopt;
}

QList<RelayStore::Pending> RelayStore::PendingFor(const QString &receiver) const
{
    Statement rows(m_db,
                   "SELECT m.id, m.expires, m.priority, m.display FROM deliveries d JOIN "
                   "messages m ON m.id = d.message WHERE d.receiver = ? AND d.state <= 3 ORDER "
                   "BY d.line");
    rows.bind(1, receiver);
    QList<Pending> pending;
    while (rows.row())
        pending += Pending{rows.integer(0), rows.integer(1), int(rows.integer(2)), rows.integer(3)};
    return pending;
}

std::optional<RelayStore::Message> RelayStore::Find(qint64 id) const
{
    Statement row(m_db, (QByteArray(MessageColumns) + "WHERE id = ?").constData());
    if (!row.bind(1, id).row())
        return std::nullopt;
    return messageFrom(row);
}

QList<RelayStore::Delivery> RelayStore::DeliveriesOf(qint64 id) const
{
    Statement rows(m_db,
                   "SELECT receiver, state, changed, reason, answer FROM deliveries WHERE "
                   "message = ? ORDER BY receiver");
    rows.bind(1, id);
    QList<Delivery> deliveries;
    while (rows.row())
        deliveries += Delivery{
            rows.text(0), State(rows.integer(1)), rows.integer(2), rows.text(3), rows.text(4)};
    return deliveries;
}

std::optional<RelayStore::Status> RelayStore::StatusOf(qint64 id) const
{
    const std::optional<Message> message = Find(id);
    if (!message)
        return std::nullopt;
    return Status{*message, DeliveriesOf(id)};
}

QList<RelayStore::Status> RelayStore::Recent(int count) const
{
    Statement rows(m_db, (QByteArray(MessageColumns) + "ORDER BY id DESC LIMIT ?").constData());
    rows.bind(1, count);
    QList<Status> recent;
    while (rows.row())
        recent += Status{messageFrom(rows), {}};
    for (Status &status : recent)
        status.deliveries = DeliveriesOf(status.message.id);
    return recent;
}

std::optional<QString>
RelayStore::Set(qint64 id, const QString &receiver, State state, qint64 now, const QString &reason)
{
    Statement update(m_db,
                     "UPDATE deliveries SET state = ?, changed = ?, reason = ? WHERE message = ? "
                     "AND receiver = ?");
    update.bind(1, qint64(state)).bind(2, now).bind(3, reason).bind(4, id).bind(5, receiver);
    if (!update.done())
        return Error();
    return std::nullopt;
}

std::optional<QString>
RelayStore::SetAnswer(qint64 id, const QString &receiver, const QString &answer)
{
    Statement update(m_db, "UPDATE deliveries SET answer = ? WHERE message = ? AND receiver = ?");
    if (!update.bind(1, answer).bind(2, id).bind(3, receiver).done())
        return Error();
    return std::nullopt;
}

QStringList RelayStore::Announced() const
{
    Statement rows(m_db, "SELECT receiver FROM announced ORDER BY receiver");
    QStringList announced;
    while (rows.row())
        announced += rows.text(0);
    return announced;
}

std::optional<QString> RelayStore::SetAnnounced(const QStringList &receivers)
{
    return InTransaction([&]() -> std::optional<QString> {
        if (const auto why = Execute("DELETE FROM announced"))
            return why;
        for (const QString &receiver : receivers) {
            Statement insert(m_db, "INSERT INTO announced(receiver) VALUES (?)");
            if (!insert.bind(1, receiver).done())
                return Error();
        }
        return std::nullopt;
    });
}

std::optional<QString> RelayStore::MergeIdentical(qint64 id, const QString &receiver, qint64 now)
{
    Statement rows(m_db,
                   "SELECT d.message, d.line FROM deliveries d JOIN messages m ON m.id = "
                   "d.message JOIN messages o ON o.id = ? WHERE d.receiver = ? AND d.state IN "
                   "(0, 1, 2) AND m.topic = o.topic AND m.title = o.title AND m.text = o.text "
                   "ORDER BY d.message");
    rows.bind(1, id).bind(2, receiver);
    QList<std::pair<qint64, qint64>> same; // message, line
    while (rows.row())
        same += {rows.integer(0), rows.integer(1)};
    if (same.size() < 2)
        return std::nullopt;
    const qint64 newest = same.last().first;
    const auto first = std::min_element(
        same.cbegin(), same.cend(), [](auto a, auto b) { return a.second < b.second; });
    return InTransaction([&]() -> std::optional<QString> {
        Statement place(m_db, "UPDATE deliveries SET line = ? WHERE message = ? AND receiver = ?");
        if (!place.bind(1, first->second).bind(2, newest).bind(3, receiver).done())
            return Error();
        for (qsizetype i = 0; i + 1 < same.size(); ++i)
            if (auto why = Set(same[i].first,
                               receiver,
                               State::Replaced,
                               now,
                               QStringLiteral("replaced by message %1").arg(newest)))
                return why;
        return std::nullopt;
    });
}

QString RelayStore::Name(State state)
{
    switch (state) {
    case State::Waiting:
        return QStringLiteral("waiting");
    case State::HeldStandby:
        return QStringLiteral("held-standby");
    case State::HeldUnreachable:
        return QStringLiteral("held-unreachable");
    case State::Sending:
        return QStringLiteral("sending");
    case State::Shown:
        return QStringLiteral("shown");
    case State::Expired:
        return QStringLiteral("expired");
    case State::Failed:
        return QStringLiteral("failed");
    case State::Replaced:
        return QStringLiteral("replaced");
    }
    return {};
}
