#include "HttpAnswerParser.h"

#include <QList>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

using Kind = HttpRefusal::Kind;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isWhitespace(char c)
{
    return c == ' ' || c == '\t';
}

// The characters of a header name (a token).
bool isTokenCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c)
           || (c != 0 && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

// Text in a status line or header value: anything but control characters other than a tab.
bool isFieldText(QByteArrayView text)
{
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u == '\t' || (u >= 0x20 && u != 0x7f);
    });
}

QByteArrayView trimmedWhitespace(QByteArrayView text)
{
    while (!text.isEmpty() && isWhitespace(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isWhitespace(text.back()))
        text.chop(1);
    return text;
}

// Where the head ends (after its empty line), or -1 while it is incomplete. Bare LF line ends
// are taken too.
qsizetype headEnd(const QByteArray &buffer)
{
    const qsizetype crlf = buffer.indexOf("\n\r\n");
    const qsizetype lf = buffer.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf < lf))
        return crlf + 3;
    return lf >= 0 ? lf + 2 : -1;
}

// The lines of a head or a chunk line, each without its CRLF or LF; nothing when a CR stands
// anywhere but before a LF.
std::optional<QList<QByteArrayView>> splitLines(QByteArrayView head)
{
    QList<QByteArrayView> lines;
    while (!head.isEmpty()) {
        const qsizetype newline = head.indexOf('\n');
        QByteArrayView line = head.first(newline);
        head = head.sliced(newline + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.contains('\r'))
            return std::nullopt;
        lines.append(line);
    }
    return lines;
}

using Field = HttpHeaderField;

// The header fields, a folded line joined to the field above it by a space, as a client must;
// nothing when a line is not a field.
std::optional<QList<Field>> parseFields(const QList<QByteArrayView> &lines)
{
    QList<Field> fields;
    for (const QByteArrayView line : lines) {
        if (!isFieldText(line))
            return std::nullopt;
        if (isWhitespace(line.front())) {
            if (fields.isEmpty())
                return std::nullopt;
            fields.last().value += ' ' + trimmedWhitespace(line).toByteArray();
            fields.last().value = trimmedWhitespace(fields.last().value).toByteArray();
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !std::all_of(line.begin(), line.begin() + colon, isTokenCharacter))
            return std::nullopt;
        fields.append({line.first(colon).toByteArray().toLower(),
                       trimmedWhitespace(line.sliced(colon + 1)).toByteArray()});
    }
    return fields;
}

// The items of a comma-separated field value, across all fields of that name, empty ones left
// out.
QList<QByteArray> listValues(const QList<Field> &fields, QByteArrayView name)
{
    QList<QByteArray> values;
    for (const Field &field : fields) {
        if (field.name != name)
            continue;
        for (const QByteArray &item : field.value.split(','))
            if (const QByteArrayView value = trimmedWhitespace(item); !value.isEmpty())
                values.append(value.toByteArray());
    }
    return values;
}

bool hasField(const QList<Field> &fields, QByteArrayView name)
{
    return std::any_of(
        fields.begin(), fields.end(), [name](const Field &f) { return f.name == name; });
}

} // namespace

HttpAnswerParser::Verdict HttpAnswerParser::feed(QByteArrayView bytes)
{
    if (m_verdict != Verdict::More)
        return m_verdict;
    m_anyByte = m_anyByte || !bytes.isEmpty();
    m_buffer += bytes;
    parse();
    return m_verdict;
}

HttpAnswerParser::Verdict HttpAnswerParser::closed(bool orderly)
{
    if (m_verdict != Verdict::More)
        return m_verdict;
    if (m_stage == Stage::UntilClose && orderly)
        complete();
    else if (!m_anyByte)
        fail(Kind::ClosedUnanswered);
    else
        fail(Kind::ClosedEarly, m_buffer.size());
    return m_verdict;
}

void HttpAnswerParser::parse()
{
    for (;;) {
        switch (m_stage) {
        case Stage::Head:
            if (!parseHead())
                return;
            break;
        case Stage::UntilClose:
            takeBody(m_buffer.size());
            return;
        case Stage::Length:
        case Stage::ChunkData:
            if (!takeBody(std::min<qint64>(m_remaining, m_buffer.size())) || m_remaining > 0)
                return;
            if (m_stage == Stage::Length)
                return complete();
            m_stage = Stage::ChunkEnd;
            break;
        case Stage::ChunkSize:
            if (!parseChunkSize())
                return;
            break;
        case Stage::ChunkEnd:
            if (!parseChunkEnd())
                return;
            break;
        case Stage::Trailers:
            if (!parseTrailers())
                return;
            break;
        case Stage::Done:
            return;
        }
    }
}

// Reads the status line and headers once they are all there; true when parsing can go on.
bool HttpAnswerParser::parseHead()
{
    // Bytes that can't begin a status line show at once that this is not HTTP.
    static const QByteArray version = "HTTP/1.";
    if (!version.startsWith(m_buffer.left(version.size())))
        return fail(Kind::NotHttp);
    const qsizetype end = headEnd(m_buffer);
    if (end < 0 ? m_buffer.size() > MaxHeadSize : end > MaxHeadSize)
        return fail(Kind::HeadTooLong, MaxHeadSize);
    if (end < 0)
        return false;

    const QByteArray head = m_buffer.left(end);
    auto lines = splitLines(head);
    if (!lines || lines->size() < 2)
        return fail(Kind::BadLineEnd);
    const qint64 headStart = m_consumed;
    consume(end);
    lines->removeLast(); // the empty line that ends the head

    // HTTP/1.x SP 3DIGIT [SP reason]
    const QByteArrayView statusLine = lines->takeFirst();
    if (statusLine.size() < 12 || !isDigit(statusLine[7]) || statusLine[8] != ' '
        || !std::all_of(statusLine.begin() + 9, statusLine.begin() + 12, isDigit)
        || (statusLine.size() > 12 && statusLine[12] != ' ') || !isFieldText(statusLine))
        return fail(Kind::BadStatusLine, headStart - m_consumed);
    const auto fields = parseFields(*lines);
    if (!fields)
        return fail(Kind::BadHeader, headStart + statusLine.size() - m_consumed);

    m_answer = {};
    m_answer.statusLine = statusLine.toByteArray();
    m_answer.status = statusLine.sliced(9, 3).toInt();
    m_answer.reason = statusLine.sliced(std::min<qsizetype>(13, statusLine.size())).toByteArray();

    if (m_answer.status == 101 || m_answer.status < 100) // nothing the request could lead to
        return fail(Kind::BadStatus, headStart + 9 - m_consumed);
    if (m_answer.status < 200) // an interim answer; the real one follows
        return true;
    if (m_answer.status == 204 || m_answer.status == 304) {
        complete();
        return false;
    }

    return parseFraming(*fields, statusLine[7] == '0', headStart - m_consumed);
}

// How the body is framed: chunked, by its length, or until the connection closes; true when
// parsing can go on.
bool HttpAnswerParser::parseFraming(const QList<HttpHeaderField> &fieldList,
                                    bool http10,
                                    qsizetype head)
{
    const QList<Field> *fields = &fieldList;
    if (hasField(*fields, "transfer-encoding")) {
        // The body's length is then the coding's business, whatever Content-Length says.
        const QList<QByteArray> codings = listValues(*fields, "transfer-encoding");
        const auto isChunked = [](const QByteArray &coding) {
            return coding.split(';').first().trimmed().toLower() == "chunked";
        };
        const auto chunked = std::count_if(codings.begin(), codings.end(), isChunked);
        if (http10 || codings.isEmpty() || chunked > 1)
            return fail(Kind::BadTransferEncoding, head);
        // Any other coding, chunked or not before it, is one Quillora can't decode.
        if (codings.size() > 1 || chunked == 0)
            return fail(Kind::UnknownCoding, head);
        m_stage = Stage::ChunkSize;
        return true;
    }

    if (hasField(*fields, "content-length")) {
        // Repeated values are taken when they agree; any other one makes the length unknown.
        std::optional<QByteArray> length;
        for (const Field &field : *fields) {
            if (field.name != "content-length")
                continue;
            for (const QByteArray &item : field.value.split(',')) {
                const QByteArray digits = trimmedWhitespace(item).toByteArray();
                if (digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), isDigit))
                    return fail(Kind::BadContentLength, head);
                qsizetype first = 0;
                while (first < digits.size() - 1 && digits[first] == '0')
                    ++first;
                const QByteArray value = digits.mid(first);
                if (length && *length != value)
                    return fail(Kind::BadContentLength, head);
                length = value;
            }
        }
        if (length->size() > 9 || length->toLongLong() > MaxBodySize)
            return fail(Kind::TooLong);
        m_remaining = length->toLongLong();
        if (m_remaining == 0) {
            complete();
            return false;
        }
        m_stage = Stage::Length;
        return true;
    }

    m_stage = Stage::UntilClose;
    return true;
}

// Takes the next line of a chunked body, without its line end; false while it is incomplete or
// when it is too long to be one.
bool HttpAnswerParser::takeLine(QByteArray &line)
{
    static constexpr qsizetype MaxLine = 1024;
    const qsizetype newline = m_buffer.indexOf('\n');
    const Kind refused = m_stage == Stage::Trailers ? Kind::BadTrailer : Kind::BadChunk;
    if (newline < 0 || newline > MaxLine)
        return newline > MaxLine || m_buffer.size() > MaxLine ? fail(refused) : false;
    line = m_buffer.left(newline);
    if (line.endsWith('\r'))
        line.chop(1);
    if (line.contains('\r') || !isFieldText(line))
        return fail(refused);
    consume(newline + 1);
    return true;
}

// chunk-size = 1*HEXDIG, then nothing or BWS ";" and extensions, which are of no interest.
bool HttpAnswerParser::parseChunkSize()
{
    QByteArray line;
    const qint64 start = m_consumed; // where the line starts, for a refusal
    if (!takeLine(line))
        return false;
    qsizetype digits = 0;
    qint64 size = 0;
    for (; digits < line.size() && hexValue(line[digits]) >= 0; ++digits) {
        size = size * 16 + hexValue(line[digits]);
        if (size > MaxBodySize)
            return fail(Kind::TooLong);
    }
    const QByteArrayView rest = trimmedWhitespace(QByteArrayView(line).sliced(digits));
    if (digits == 0 || (!rest.isEmpty() && !rest.startsWith(';'))
        || (rest.isEmpty() && digits < line.size()))
        return fail(Kind::BadChunk, qsizetype(start - m_consumed));
    if (size > MaxBodySize - m_answer.body.size())
        return fail(Kind::TooLong);
    m_remaining = size;
    m_stage = size == 0 ? Stage::Trailers : Stage::ChunkData;
    return true;
}

// The line end after a chunk's data.
bool HttpAnswerParser::parseChunkEnd()
{
    QByteArray line;
    const qint64 start = m_consumed; // where the line starts, for a refusal
    if (!takeLine(line))
        return false;
    if (!line.isEmpty())
        return fail(Kind::BadChunk, qsizetype(start - m_consumed));
    m_stage = Stage::ChunkSize;
    return true;
}

// Trailer fields after the last chunk, of no interest, up to the empty line that ends the answer.
bool HttpAnswerParser::parseTrailers()
{
    QByteArray line;
    const qint64 start = m_consumed; // where the line starts, for a refusal
    if (!takeLine(line))
        return false;
    if (line.isEmpty()) {
        complete();
        return false;
    }
    m_trailerSize += line.size();
    if (m_trailerSize > MaxHeadSize || !parseFields({line}))
        return fail(Kind::BadTrailer, qsizetype(start - m_consumed));
    return true;
}

// Moves count bytes of the buffer to the body; false when that makes the answer too long.
bool HttpAnswerParser::takeBody(qsizetype count)
{
    if (m_answer.body.size() + count > MaxBodySize)
        return fail(Kind::TooLong, MaxBodySize - m_answer.body.size());
    m_answer.body += m_buffer.left(count);
    consume(count);
    m_remaining -= count;
    return true;
}

void HttpAnswerParser::complete()
{
    m_stage = Stage::Done;
    m_verdict = Verdict::Complete;
    m_buffer.clear();
}

bool HttpAnswerParser::fail(HttpRefusal::Kind kind, qsizetype at)
{
    m_stage = Stage::Done;
    m_verdict = Verdict::Failed;
    m_refusal = {kind, m_consumed + at};
    m_answer = {};
    m_buffer.clear();
    return false;
}

void HttpAnswerParser::consume(qsizetype count)
{
    m_buffer.remove(0, count);
    m_consumed += count;
}
