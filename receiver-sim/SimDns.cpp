#include "SimDns.h"

#include <QtEndian>

namespace SimDns {

namespace {

constexpr int HeaderSize = 12;
constexpr int MaxJumps = 16; // compression pointers followed in one name
constexpr int MaxLabel = 63;

// Reads a name at offset (following compression pointers backwards only); moves offset past
// it in the datagram. Nothing when it is malformed.
std::optional<Name> readName(QByteArrayView bytes, qsizetype &offset)
{
    Name name;
    qsizetype at = offset;
    int jumps = 0;
    bool jumped = false;
    while (true) {
        if (at >= bytes.size())
            return std::nullopt;
        const auto length = quint8(bytes[at]);
        if ((length & 0xC0) == 0xC0) {
            if (at + 1 >= bytes.size() || ++jumps > MaxJumps)
                return std::nullopt;
            const qsizetype target = ((length & 0x3F) << 8) | quint8(bytes[at + 1]);
            if (target >= at)
                return std::nullopt;
            if (!jumped)
                offset = at + 2;
            jumped = true;
            at = target;
            continue;
        }
        if (length > MaxLabel || at + 1 + length > bytes.size())
            return std::nullopt;
        if (length == 0)
            break;
        name += QString::fromUtf8(bytes.sliced(at + 1, length));
        at += 1 + length;
    }
    if (!jumped)
        offset = at + 1;
    return name;
}

void put16(QByteArray &out, quint16 value)
{
    out += char(value >> 8);
    out += char(value & 0xFF);
}

void put32(QByteArray &out, quint32 value)
{
    put16(out, quint16(value >> 16));
    put16(out, quint16(value & 0xFFFF));
}

// Labels longer than DNS allows are cut: the simulator's name is the user's to choose.
void putName(QByteArray &out, const Name &name)
{
    for (const QString &label : name) {
        const QByteArray bytes = label.toUtf8().left(MaxLabel);
        out += char(bytes.size());
        out += bytes;
    }
    out += '\0';
}

QByteArray recordData(const Record &record)
{
    QByteArray data;
    switch (record.type) {
    case PTR:
        putName(data, record.target);
        break;
    case SRV:
        put16(data, 0); // priority
        put16(data, 0); // weight
        put16(data, record.port);
        putName(data, record.target);
        break;
    case TXT:
        for (const QByteArray &text : record.texts) {
            data += char(std::min<qsizetype>(text.size(), 255));
            data += text.left(255);
        }
        if (data.isEmpty())
            data += '\0'; // a TXT record holds at least one string, if empty
        break;
    case A:
        put32(data, record.ipv4);
        break;
    }
    return data;
}

} // namespace

bool sameName(const Name &a, const Name &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (a[i].compare(b[i], Qt::CaseInsensitive) != 0)
            return false;
    return true;
}

std::optional<Query> readQuery(QByteArrayView datagram)
{
    if (datagram.size() < HeaderSize)
        return std::nullopt;
    const auto *header = reinterpret_cast<const uchar *>(datagram.data());
    Query query;
    query.id = qFromBigEndian<quint16>(header);
    query.response = (header[2] & 0x80) != 0;
    const quint16 count = qFromBigEndian<quint16>(header + 4);
    qsizetype offset = HeaderSize;
    for (quint16 i = 0; i < count; ++i) {
        std::optional<Name> name = readName(datagram, offset);
        if (!name || offset + 4 > datagram.size())
            return std::nullopt;
        const auto *fields = reinterpret_cast<const uchar *>(datagram.data() + offset);
        query.questions += Question{
            *name, qFromBigEndian<quint16>(fields), qFromBigEndian<quint16>(fields + 2)};
        offset += 4;
    }
    return query;
}

QByteArray writeAnswer(quint16 id, const QList<Question> &questions, const QList<Record> &records)
{
    QByteArray out;
    put16(out, id);
    put16(out, 0x8400); // a response, with authority
    put16(out, quint16(questions.size()));
    put16(out, quint16(records.size()));
    put16(out, 0);
    put16(out, 0);
    for (const Question &question : questions) {
        putName(out, question.name);
        put16(out, question.type);
        put16(out, question.rrClass);
    }
    for (const Record &record : records) {
        putName(out, record.name);
        put16(out, record.type);
        put16(out, record.unique ? 0x8001 : 0x0001);
        put32(out, record.ttl);
        const QByteArray data = recordData(record);
        put16(out, quint16(data.size()));
        out += data;
    }
    return out;
}

} // namespace SimDns
