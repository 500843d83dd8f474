#include "DnsMessage.h"
#include "PlainText.h"

#include <QtEndian>

#include <algorithm>

#include <optional>

namespace Dns {

namespace {

constexpr int MaxLabel = 63;
constexpr int MaxName = 255; // in its wire form, the final empty label included

// Reads a message front to back; every read checks the bounds, and the first failure sticks.
class Reader
{
public:
    explicit Reader(QByteArrayView bytes)
        : m_bytes(bytes)
    {}

    bool failed() const { return !m_failure.isEmpty(); }
    const QString &failure() const { return m_failure; }
    qsizetype at() const { return m_at; }

    void fail(const QString &why)
    {
        if (m_failure.isEmpty())
            m_failure = why;
    }

    // A number in network byte order: quint16 or quint32.
    template<typename Number> Number number()
    {
        if (!need(qsizetype(sizeof(Number))))
            return 0;
        const Number value = qFromBigEndian<Number>(m_bytes.data() + m_at);
        m_at += qsizetype(sizeof(Number));
        return value;
    }

    quint16 u16() { return number<quint16>(); }
    quint32 u32() { return number<quint32>(); }

    QByteArrayView take(qsizetype count)
    {
        if (!need(count))
            return {};
        const QByteArrayView part = m_bytes.sliced(m_at, count);
        m_at += count;
        return part;
    }

    // A name at the reading position; compression pointers may only point back, to where an
    // earlier label starts, so that a name can't loop.
    Name name()
    {
        Name labels;
        qsizetype at = m_at;
        qsizetype wireSize = 1;
        bool jumped = false;
        qsizetype lowest = m_at; // pointers must point before this
        while (!failed()) {
            if (at >= m_bytes.size())
                return fail(QStringLiteral("a name runs past the end of the message")), Name{};
            const auto length = static_cast<quint8>(m_bytes[at]);
            if ((length & 0xc0) == 0xc0) {
                if (at + 1 >= m_bytes.size())
                    return fail(QStringLiteral("a name runs past the end of the message")), Name{};
                const qsizetype target
                    = ((length & 0x3f) << 8) | static_cast<quint8>(m_bytes[at + 1]);
                if (target >= lowest)
                    return fail(QStringLiteral("a name points at itself or forward")), Name{};
                if (!jumped)
                    m_at = at + 2;
                jumped = true;
                lowest = target;
                at = target;
                continue;
            }
            // 64 to 191 would be labels of other kinds, which multicast DNS has none of.
            if (length > MaxLabel)
                return fail(QStringLiteral("a label is longer than 63 bytes")), Name{};
            if (length == 0) {
                if (!jumped)
                    m_at = at + 1;
                return labels;
            }
            if (at + 1 + length > m_bytes.size())
                return fail(QStringLiteral("a name runs past the end of the message")), Name{};
            wireSize += 1 + length;
            if (wireSize > MaxName)
                return fail(QStringLiteral("a name is longer than 255 bytes")), Name{};
            labels.append(PlainText::from(m_bytes.sliced(at + 1, length)));
            at += 1 + length;
        }
        return {};
    }

private:
    bool need(qsizetype count)
    {
        if (failed())
            return false;
        if (count < 0 || m_bytes.size() - m_at < count) {
            fail(QStringLiteral("the message ends before its end"));
            return false;
        }
        return true;
    }

    QByteArrayView m_bytes;
    qsizetype m_at = 0;
    QString m_failure;
};

// The record's data, read as its type says, within exactly its length.
void readData(Reader &reader, Record &record, qsizetype length)
{
    const qsizetype start = reader.at();
    const qsizetype end = start + length;
    switch (record.type) {
    case PTR:
        record.target = reader.name();
        break;
    case SRV:
        reader.u16(); // priority
        reader.u16(); // weight
        record.port = reader.u16();
        record.target = reader.name();
        break;
    case TXT: {
        while (!reader.failed() && reader.at() < end) {
            const QByteArrayView size = reader.take(1);
            if (size.isEmpty())
                break;
            record.texts.append(reader.take(static_cast<quint8>(size[0])).toByteArray());
        }
        break;
    }
    case A:
        if (length != 4)
            return reader.fail(QStringLiteral("an A record is not 4 bytes long"));
        record.address = QHostAddress(reader.u32());
        break;
    case AAAA: {
        if (length != 16)
            return reader.fail(QStringLiteral("an AAAA record is not 16 bytes long"));
        const QByteArrayView bytes = reader.take(16);
        if (!bytes.isEmpty())
            record.address = QHostAddress(reinterpret_cast<const quint8 *>(bytes.data()));
        break;
    }
    default:
        reader.take(length);
        break;
    }
    if (!reader.failed() && reader.at() != end)
        reader.fail(QStringLiteral("a record's data is not as long as it says"));
}

void writeName(QByteArray &bytes, const Name &name)
{
    for (const QString &label : name) {
        const QByteArray utf8 = label.toUtf8().left(MaxLabel);
        bytes += char(utf8.size());
        bytes += utf8;
    }
    bytes += char(0);
}

void write16(QByteArray &bytes, quint16 value)
{
    bytes += char(value >> 8);
    bytes += char(value & 0xff);
}

void write32(QByteArray &bytes, quint32 value)
{
    write16(bytes, quint16(value >> 16));
    write16(bytes, quint16(value & 0xffff));
}

QByteArray dataOf(const Record &record)
{
    QByteArray data;
    switch (record.type) {
    case PTR:
        writeName(data, record.target);
        return data;
    case SRV:
        write16(data, 0);
        write16(data, 0);
        write16(data, record.port);
        writeName(data, record.target);
        return data;
    case TXT:
        for (const QByteArray &text : record.texts) {
            data += char(std::min<qsizetype>(text.size(), 255));
            data += text.left(255);
        }
        if (record.texts.isEmpty())
            data += char(0); // a TXT record holds at least one string
        return data;
    case A:
        write32(data, record.address.toIPv4Address());
        return data;
    case AAAA: {
        const Q_IPV6ADDR ip = record.address.toIPv6Address();
        return QByteArray(reinterpret_cast<const char *>(ip.c), 16);
    }
    default:
        return record.data;
    }
}

} // namespace

bool sameName(const Name &a, const Name &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        const QString &x = a[i];
        const QString &y = b[i];
        if (x.size() != y.size())
            return false;
        for (qsizetype j = 0; j < x.size(); ++j) {
            const char16_t c = x[j].unicode();
            const char16_t d = y[j].unicode();
            const auto lower = [](char16_t u) {
                return u >= 'A' && u <= 'Z' ? char16_t(u + 32) : u;
            };
            if (lower(c) != lower(d))
                return false;
        }
    }
    return true;
}

QString nameText(const Name &name)
{
    QStringList labels = name;
    for (QString &label : labels)
        label.replace(QLatin1Char('.'), QLatin1String("\\."));
    return labels.join(QLatin1Char('.'));
}

Name nameFrom(const QString &text)
{
    return text.split(QLatin1Char('.'), Qt::SkipEmptyParts);
}

std::variant<Message, QString> parse(QByteArrayView bytes)
{
    Reader reader(bytes);
    Message message;
    message.id = reader.u16();
    message.flags = reader.u16();
    const quint16 questions = reader.u16();
    const quint16 answers = reader.u16();
    const quint16 authorities = reader.u16();
    const quint16 additionals = reader.u16();
    // Each question takes at least 5 bytes and each record 11: counts that can't fit are refused
    // before anything is read.
    if (!reader.failed()
        && 5 * qsizetype(questions) + 11 * (qsizetype(answers) + authorities + additionals)
               > bytes.size() - 12)
        return QStringLiteral("the message counts more than it holds");
    for (int i = 0; i < questions && !reader.failed(); ++i) {
        Question question;
        question.name = reader.name();
        question.type = reader.u16();
        question.rrClass = reader.u16();
        message.questions.append(question);
    }
    const int records = answers + authorities + additionals;
    for (int i = 0; i < records && !reader.failed(); ++i) {
        Record record;
        record.name = reader.name();
        record.type = reader.u16();
        record.rrClass = reader.u16();
        record.ttl = reader.u32();
        const quint16 length = reader.u16();
        const qsizetype start = reader.at();
        readData(reader, record, length);
        if (!reader.failed())
            record.data = bytes.sliced(start, length).toByteArray();
        message.records.append(record);
    }
    if (reader.failed())
        return reader.failure();
    return message;
}

QByteArray serialize(const Message &message)
{
    QByteArray bytes;
    write16(bytes, message.id);
    write16(bytes, message.flags);
    write16(bytes, quint16(message.questions.size()));
    write16(bytes, quint16(message.records.size()));
    write16(bytes, 0);
    write16(bytes, 0);
    for (const Question &question : message.questions) {
        writeName(bytes, question.name);
        write16(bytes, question.type);
        write16(bytes, question.rrClass);
    }
    for (const Record &record : message.records) {
        writeName(bytes, record.name);
        write16(bytes, record.type);
        write16(bytes, record.rrClass);
        write32(bytes, record.ttl);
        const QByteArray data = dataOf(record);
        write16(bytes, quint16(data.size()));
        bytes += data;
    }
    return bytes;
}

} // namespace Dns
