// What the relay reads from the house's MQTT broker, from any bytes: packets as they come over
// the connection (the first byte even) or a message's payload (odd). Whatever comes, every packet
// is read from the bytes that carry it, nothing is taken before it is whole, and a message read
// keeps the relay's limits.
#include "MqttPacket.h"
#include "Publication.h"
#include "PublishFields.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool holds)
{
    if (!holds)
        std::abort();
}

void packets(QByteArray bytes)
{
    using namespace MqttPacket;
    while (true) {
        const qsizetype before = bytes.size();
        const Read read = take(bytes);
        if (std::holds_alternative<Malformed>(read)) // the connection ends here
            return;
        if (std::holds_alternative<NeedMore>(read)) {
            check(bytes.size() == before);
            return;
        }
        check(bytes.size() < before);
        if (const auto *publish = std::get_if<Publish>(&read)) {
            check(publish->payload.size() <= MaxKept && publish->qos <= 1);
            check(publish->qos == 0 || publish->packetId != 0);
            check(!publish->topic.isEmpty() && !publish->topic.contains(u'#'));
        }
        if (const auto *oversized = std::get_if<Oversized>(&read))
            check(oversized->size > MaxKept && oversized->toSkip > 0
                  && oversized->head.payload.isEmpty());
    }
}

void payload(const QByteArray &bytes)
{
    const auto read = Publication::FromPayload(QStringLiteral("kitchen"), bytes);
    if (const auto *message = std::get_if<Publication::Message>(&read)) {
        check(message->text.toUtf8().size() <= Publication::MaxText);
        check(message->priority >= 1 && message->priority <= 5);
        check(message->reference.size() <= Publication::MaxReference);
        return;
    }
    check(!std::get<Publication::Refusal>(read).error.isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1);
    if (data[0] % 2 == 0)
        packets(bytes);
    else
        payload(bytes);
    return 0;
}
