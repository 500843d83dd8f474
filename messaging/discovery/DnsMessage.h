#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <variant>

// A DNS message as multicast DNS (RFC 6762) and DNS service discovery (RFC 6763) use it: the
// header, the questions, and the records of the answer, authority and additional sections.
// Names are lists of labels, each label's bytes as text that may be shown (PlainText): anybody on
// the network may announce a name, and a name is only ever shown and compared.
namespace Dns {

enum Type : quint16 { A = 1, PTR = 12, TXT = 16, AAAA = 28, SRV = 33, ANY = 255 };

constexpr quint16 ClassIn = 1;
constexpr quint16 TopBit
    = 0x8000; // of a class: cache-flush in a record, unicast-please in a question

using Name = QStringList;

// Whether two names are the same, as DNS compares them: ASCII letters without regard to case.
bool sameName(const Name &a, const Name &b);

// A name written as people read it: the labels joined by dots, a dot inside a label as "\\.".
QString nameText(const Name &name);

// A name from its text, split at the dots.
Name nameFrom(const QString &text);

struct Question
{
    Name name;
    quint16 type = 0;
    quint16 rrClass = ClassIn; // with the top bit (unicast response asked) as it came
};

struct Record
{
    Name name;
    quint16 type = 0;
    quint16 rrClass = ClassIn; // with the top bit (cache flush) as it came
    quint32 ttl = 0;
    Name target;             // PTR: the name pointed at; SRV: the host
    quint16 port = 0;        // SRV
    QList<QByteArray> texts; // TXT: its strings
    QHostAddress address;    // A, AAAA
    QByteArray data;         // the record's data as it came, of every type
};

struct Message
{
    quint16 id = 0;
    quint16 flags = 0;
    QList<Question> questions;
    QList<Record> records; // answers, then authority, then additional

    bool isResponse() const { return (flags & 0x8000) != 0; }
};

// The message in bytes, or why it can't be read: a header, count, name or record that runs past
// the end of the message, a name that points at itself or forward, a label over 63 bytes or a
// name over 255, a record whose data does not hold what its type says. Nothing is guessed.
std::variant<Message, QString> parse(QByteArrayView bytes);

// The message as bytes, names uncompressed.
QByteArray serialize(const Message &message);

} // namespace Dns
