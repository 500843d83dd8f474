#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QStringList>

#include <optional>

// The little of multicast DNS a receiver speaks: it reads the questions of a query and writes
// its own records (RFC 6762, RFC 6763). Kept apart from Quillora's reader so that a fault in one
// shows up against the other.
namespace SimDns {

enum Type : quint16 { A = 1, PTR = 12, TXT = 16, SRV = 33, ANY = 255 };

constexpr quint16 Port = 5353;
constexpr const char *Group = "224.0.0.251";

using Name = QStringList; // the labels, "Living Room", "_http", "_tcp", "local"

// Whether two names are the same: letters without regard to case.
bool sameName(const Name &a, const Name &b);

struct Question
{
    Name name;
    quint16 type = 0;
    quint16 rrClass = 1;
};

struct Query
{
    quint16 id = 0;
    bool response = false;
    QList<Question> questions;
};

// The header and questions of a datagram; nothing when they run past its end or a name is
// malformed. The records after the questions are not read: a receiver answers only questions.
std::optional<Query> readQuery(QByteArrayView datagram);

struct Record
{
    Name name;
    quint16 type = 0;
    quint32 ttl = 120;
    bool unique = false;     // the cache-flush bit: the only record of its name and type
    Name target;             // PTR, SRV
    quint16 port = 0;        // SRV
    QList<QByteArray> texts; // TXT
    quint32 ipv4 = 0;        // A
};

// An answer with these records, names written whole; the questions are repeated for a querier
// that asked from a port other than 5353 (RFC 6762, 6.7).
QByteArray writeAnswer(quint16 id, const QList<Question> &questions, const QList<Record> &records);

} // namespace SimDns
