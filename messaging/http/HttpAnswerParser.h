#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// What the receiver answered: status line and body (other headers are not kept).
struct HttpAnswer
{
    QByteArray statusLine; // as it came, without its line end
    int status = 0;
    QByteArray reason;
    QByteArray body; // as decoded from its framing
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
    const QString &failure() const { return m_failure; }
    // Whether not a single byte of an answer came before the connection ended.
    bool unanswered() const { return !m_anyByte; }

private:
    enum class Stage { Head, Length, UntilClose, ChunkSize, ChunkData, ChunkEnd, Trailers, Done };

    void parse();
    bool parseHead();
    bool parseChunkSize();
    bool parseChunkEnd();
    bool parseTrailers();
    bool takeBody(qsizetype count);
    bool takeLine(QByteArray &line);
    void complete();
    bool fail(const QString &failure); // false, so that a parse step can return it

    Stage m_stage = Stage::Head;
    Verdict m_verdict = Verdict::More;
    QByteArray m_buffer; // received and not yet parsed
    HttpAnswer m_answer;
    QString m_failure;
    qint64 m_remaining = 0; // bytes still to come of the body (Length) or of the chunk
    qsizetype m_trailerSize = 0;
    bool m_anyByte = false;
};
