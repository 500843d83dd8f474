// What the relay reads from the network and from its settings file, from any bytes: a publish
// request (the first byte even) or a settings file (odd). Whatever comes, a message read keeps
// the relay's rules, a refusal is one of ntfy's, and settings read are settings the relay can use.
#include "Publication.h"
#include "PublishFields.h"
#include "RelaySettings.h"

#include <QUrl>
#include <QUrlQuery>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void check(bool holds)
{
    if (!holds)
        std::abort();
}

// "METHOD target", header lines up to an empty line, then the body.
Publication::Request requestFrom(const QByteArray &bytes)
{
    Publication::Request request;
    const qsizetype end = bytes.indexOf("\n\n");
    const QList<QByteArray> head = bytes.left(end < 0 ? bytes.size() : end).split('\n');
    request.body = end < 0 ? QByteArray() : bytes.mid(end + 2);
    request.method = head.first().split(' ').first();
    const QUrl url(QStringLiteral("http://relay")
                   + QString::fromUtf8(head.first().mid(request.method.size() + 1)));
    request.path = url.path();
    for (const auto &[key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded))
        request.query += {key, value};
    for (const QByteArray &line : head.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        request.headers += {line.left(colon), colon < 0 ? QByteArray() : line.mid(colon + 1)};
    }
    return request;
}

void publish(const QByteArray &bytes)
{
    const auto read = Publication::Read(requestFrom(bytes));
    if (!read)
        return;
    if (const auto *message = std::get_if<Publication::Message>(&*read)) {
        check(PublishFields::IsTopic(message->topic));
        check(message->text.toUtf8().size() <= Publication::MaxText);
        check(message->priority >= 1 && message->priority <= 5);
        return;
    }
    const auto &refusal = std::get<Publication::Refusal>(*read);
    check((refusal.http == 400 || refusal.http == 413) && !refusal.error.isEmpty());
    check(refusal.code / 100 == refusal.http);
}

void settings(const QByteArray &bytes)
{
    const auto read = ReadRelaySettings(bytes);
    if (const QString *why = std::get_if<QString>(&read)) {
        check(!why->isEmpty());
        return;
    }
    const RelaySettings &relay = std::get<RelaySettings>(read);
    check(relay.listenPort > 0 && (relay.listensOnlyHere() || !relay.tokens.isEmpty()));
    check(relay.wakeAt >= 1 && relay.wakeAt <= 6 && relay.maxWaiting >= 1 && relay.rate >= 0);
    for (auto receiver = relay.receivers.cbegin(); receiver != relay.receivers.cend(); ++receiver)
        check(PublishFields::IsTopic(receiver.key()) && receiver.key().toLower() != "all");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1);
    if (data[0] % 2 == 0)
        publish(bytes);
    else
        settings(bytes);
    return 0;
}
