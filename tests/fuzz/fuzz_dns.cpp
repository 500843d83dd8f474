// Feeds the multicast DNS message reader any bytes. It must refuse or read them without a crash,
// a hang or a read outside them (the sanitizers watch), and what it reads must write out again.
#include "DnsMessage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const auto parsed = Dns::parse(bytes);
    const auto *message = std::get_if<Dns::Message>(&parsed);
    if (!message)
        return 0;
    // A message holds no more than its bytes can: a question takes 5 of them, a record 11.
    if (5 * message->questions.size() + 11 * message->records.size() > static_cast<qsizetype>(size))
        std::abort();
    (void)Dns::parse(Dns::serialize(*message));
    return 0;
}
