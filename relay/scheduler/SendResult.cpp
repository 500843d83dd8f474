#include "SendResult.h"

RelayRules::Outcome SendResult(const SendOutcome &outcome)
{
    using Kind = SendFailure::Kind;
    if (!outcome.failure)
        return RelayRules::Outcome::Shown;
    const auto unlessSent
        = outcome.messageSent ? RelayRules::Outcome::Failed : RelayRules::Outcome::Unreachable;
    switch (outcome.failure->kind) {
    case Kind::InStandby:
        return RelayRules::Outcome::InStandby;
    case Kind::NoAnswer:
    case Kind::RefusedConnection:
    case Kind::NameUnknown: // the network (or its name server) may be back soon
    case Kind::TimedOut:
    case Kind::NotAwake:
        return unlessSent;
    case Kind::LoginWanted:
    case Kind::LoginRefused:
    case Kind::HttpError:
    case Kind::RefusedByReceiver:
    case Kind::CantAsk:
    case Kind::NotUnderstood:
    case Kind::CertificateUntrusted:
    case Kind::CertificateChanged:
    case Kind::TlsFailed:
    case Kind::Cancelled:
        return RelayRules::Outcome::Failed;
    }
    return RelayRules::Outcome::Failed;
}
