#include "Tokens.h"

#include <QList>

namespace Tokens {

namespace {

// Equal or not, in a time that depends on the lengths alone, never on where they differ.
bool sameSecret(const QByteArray &given, const QByteArray &kept)
{
    const qsizetype length = std::max(given.size(), kept.size());
    unsigned difference = given.size() == kept.size() ? 0u : 1u;
    for (qsizetype i = 0; i < length; ++i)
        difference |= unsigned(quint8(i < given.size() ? given[i] : 0)
                               ^ quint8(i < kept.size() ? kept[i] : 0));
    return difference == 0;
}

// What the request offers as a secret, with the token's name where the way names it.
struct Offer
{
    QString name; // empty: any token's
    QByteArray secret;
};

// An Authorization header's value: Bearer with the secret, or Basic with name and secret.
void offerAuthorization(const QByteArray &value, QList<Offer> &offers)
{
    const qsizetype space = value.indexOf(' ');
    const QByteArray scheme = value.left(space).toLower();
    const QByteArray credentials = space < 0 ? QByteArray() : value.mid(space + 1).trimmed();
    if (scheme == "bearer")
        offers += Offer{{}, credentials};
    if (scheme == "basic") {
        const auto decoded = QByteArray::fromBase64Encoding(credentials);
        const qsizetype colon = decoded.decoded.indexOf(':');
        if (decoded && colon >= 0)
            offers += Offer{QString::fromUtf8(decoded.decoded.left(colon)),
                            decoded.decoded.mid(colon + 1)};
    }
}

QList<Offer> offersOf(const Publication::Request &request)
{
    QList<Offer> offers;
    for (const auto &[header, value] : request.headers) {
        if (header.compare("Authorization", Qt::CaseInsensitive) == 0)
            offerAuthorization(value.trimmed(), offers);
        if (header.compare("X-Gotify-Key", Qt::CaseInsensitive) == 0)
            offers += Offer{{}, value.trimmed()};
    }
    for (const auto &[key, value] : request.query) {
        if (key == QLatin1String("token"))
            offers += Offer{{}, value.toUtf8()};
        if (key == QLatin1String("auth")) { // ntfy: the Authorization header in base64 (URL-safe)
            const auto decoded = QByteArray::fromBase64Encoding(
                value.toLatin1(), QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
            if (decoded)
                offerAuthorization(decoded.decoded, offers);
        }
    }
    return offers;
}

} // namespace

std::optional<QString> Carried(const Publication::Request &request,
                               const QMap<QString, QByteArray> &tokens)
{
    std::optional<QString> carried;
    // Every offer against every token, so that the time taken tells nothing of a match.
    for (const Offer &offer : offersOf(request))
        for (auto token = tokens.cbegin(); token != tokens.cend(); ++token)
            if (sameSecret(offer.secret, token.value())
                && (offer.name.isEmpty() || offer.name == token.key()) && !carried)
                carried = token.key();
    return carried;
}

bool Allowed(const Publication::Request &request, const QMap<QString, QByteArray> &tokens)
{
    return tokens.isEmpty() || Carried(request, tokens).has_value();
}

} // namespace Tokens
