// Feeds the answer parser any bytes in any split. The verdict, and for a refusal its kind and
// where it was refused, must not depend on how the bytes were split, and no more of a body may
// be kept than the parser allows.
#include "HttpAnswerParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

struct Result
{
    HttpAnswerParser::Verdict verdict;
    QByteArray statusLine;
    QByteArray body;
    HttpRefusal::Kind refused;
    qint64 offset;
};

Result parse(QByteArrayView answer, qsizetype piece, bool close, bool orderly)
{
    HttpAnswerParser parser;
    for (qsizetype at = 0; at < answer.size(); at += piece)
        parser.feed(answer.sliced(at, std::min(piece, answer.size() - at)));
    if (close)
        parser.closed(orderly);
    if (parser.answer().body.size() > HttpAnswerParser::MaxBodySize)
        std::abort();
    return {parser.verdict(),
            parser.answer().statusLine,
            parser.answer().body,
            parser.refusal().kind,
            parser.refusal().offset};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    // The first byte chooses the split and how the connection ends; the rest is the answer.
    const qsizetype piece = (data[0] & 0x1f) + 1;
    const bool close = (data[0] & 0x20) != 0;
    const bool orderly = (data[0] & 0x40) != 0;
    const QByteArrayView answer(reinterpret_cast<const char *>(data) + 1,
                                static_cast<qsizetype>(size) - 1);
    const Result whole = parse(answer, answer.size() + 1, close, orderly);
    const Result split = parse(answer, piece, close, orderly);
    if (whole.verdict != split.verdict || whole.statusLine != split.statusLine
        || whole.body != split.body || whole.refused != split.refused
        || whole.offset != split.offset)
        std::abort();
    return 0;
}
