#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// What the receiver answered: status line and body (other headers are not kept).
struct HttpAnswer
{
    QByteArray statusLine; // as it came, without its line end
    int status = 0;
    QByteArray reason;
    QByteArray body; // as decoded from its framing
};

// A header field of an answer.
struct HttpHeaderField
{
    QByteArray name; // in lower case
    QByteArray value;
};

// Why an answer was refused, and where: how many of its bytes were read before the part that
// is refused.
struct HttpRefusal
{
    enum class Kind {
        NotHttp,             // bytes that can't begin an HTTP/1.x answer
        HeadTooLong,         // no end of the status line and headers within their limit
        BadLineEnd,          // a CR that is not part of a line end, or no status line
        BadStatusLine,       // not HTTP/1.x, three digits and a reason
        BadStatus,           // a status no request of Quillora's can lead to (101, under 100)
        BadHeader,           // a line of the head that is not a header field
        BadTransferEncoding, // chunked more than once, or not last, or with HTTP/1.0
        UnknownCoding,       // a transfer coding that can't be decoded
        BadContentLength,    // a length that is not digits, or lengths that disagree
        TooLong,             // a body over the limit
        BadChunk,            // a chunk's size line or line end that is not one
        BadTrailer,          // a trailer line that is not a field, or trailers over the limit
        ClosedUnanswered,    // the connection ended before a byte of an answer
        ClosedEarly,         // the connection ended before the answer was complete
    };
    Kind kind = Kind::NotHttp;
    qint64 offset = 0;
};

// Reads one HTTP/1.1 answer from the bytes as they arrive, in any split, and says when it is
// complete or why it can't be taken. It holds no connection: whoever reads the connection feeds
// it the bytes and tells it how the connection ended. An answer whose framing is in any doubt is
// refused rather than guessed at, so that no refusal can pass for a taken message. No more than a
// small, fixed size is ever kept; a receiver's real answers are a few hundred bytes.
class HttpAnswerParser
{
public:
    static constexpr qsizetype MaxHeadSize = 64 * 1024; // status line and headers
    static constexpr qsizetype MaxBodySize = 64 * 1024;

    enum class Verdict {
        More,     // the answer is not complete yet
        Complete, // answer() holds it
        Failed,   // failure() says why
    };

    Verdict feed(QByteArrayView bytes);

    // The connection ended: orderly is an ordinary close by the receiver, not a reset. Only an
    // orderly close ends an answer that runs until the close.
    Verdict closed(bool orderly);

    Verdict verdict() const { return m_verdict; }
    const HttpAnswer &answer() const { return m_answer; }
    const HttpRefusal &refusal() const { return m_refusal; }
    // Whether not a single byte of an answer came before the connection ended.
    bool unanswered() const { return !m_anyByte; }

private:
    enum class Stage { Head, Length, UntilClose, ChunkSize, ChunkData, ChunkEnd, Trailers, Done };

    void parse();
    bool parseHead();
    bool parseFraming(const QList<HttpHeaderField> &fields, bool http10, qsizetype head);
    bool parseChunkSize();
    bool parseChunkEnd();
    bool parseTrailers();
    bool takeBody(qsizetype count);
    bool takeLine(QByteArray &line);
    void complete();
    // false, so that a parse step can return it; at: where in the buffer the refused part starts
    bool fail(HttpRefusal::Kind kind, qsizetype at = 0);
    void consume(qsizetype count); // takes bytes off the front of the buffer

    Stage m_stage = Stage::Head;
    Verdict m_verdict = Verdict::More;
    QByteArray m_buffer; // received and not yet parsed
    HttpAnswer m_answer;
    HttpRefusal m_refusal;
    qint64 m_consumed = 0; // bytes of the answer taken off the buffer
    qint64 m_remaining = 0; // bytes still to come of the body (Length) or of the chunk
    qsizetype m_trailerSize = 0;
    bool m_anyByte = false;
};
