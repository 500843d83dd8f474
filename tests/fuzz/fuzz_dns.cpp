// Feeds the multicast DNS message reader any bytes. It must refuse or read them without a crash,
// a hang or a read outside them (the sanitizers watch), and what it reads must write out again.
// Every name it reads, every text of a record and the bytes themselves, shown as text, must hold
// nothing that a terminal or a screen would take for more than text.
#include "DnsMessage.h"
#include "PlainText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0x061c || c == 0x200e || c == 0x200f
           || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069)
           || (c >= 0xd800 && c <= 0xdfff);
}

// Shown text holds no control, stays within its bound, and shows again as itself.
void checkShown(const QString &shown)
{
    if (shown.size() > PlainText::MaxLength)
        std::abort();
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const QChar c = shown[i];
        if (c.isHighSurrogate() && i + 1 < shown.size() && shown[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (isControl(c.unicode()))
            std::abort();
    }
    if (PlainText::from(shown) != shown)
        std::abort();
}

void checkName(const Dns::Name &name)
{
    for (const QString &label : name) {
        checkShown(label);
        if (PlainText::from(label) != label) // a label is shown text already
            std::abort();
    }
    checkShown(PlainText::from(Dns::nameText(name)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    checkShown(PlainText::from(bytes));
    const auto parsed = Dns::parse(bytes);
    const auto *message = std::get_if<Dns::Message>(&parsed);
    if (!message)
        return 0;
    // A message holds no more than its bytes can: a question takes 5 of them, a record 11.
    if (5 * message->questions.size() + 11 * message->records.size() > static_cast<qsizetype>(size))
        std::abort();
    for (const Dns::Question &question : message->questions)
        checkName(question.name);
    for (const Dns::Record &record : message->records) {
        checkName(record.name);
        checkName(record.target);
        for (const QByteArray &text : record.texts)
            checkShown(PlainText::from(text));
    }
    (void)Dns::parse(Dns::serialize(*message));
    return 0;
}
