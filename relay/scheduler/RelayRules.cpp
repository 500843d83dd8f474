#include "RelayRules.h"

#include <algorithm>

namespace RelayRules {

Next Decide(const QList<Waiting> &waiting,
            const Receiver &receiver,
            const Settings &settings,
            Time now)
{
    Next next;
    QList<const Waiting *> live;
    for (const Waiting &message : waiting)
        if (message.expires <= now)
            next.expired += message.id;
        else
            live += &message;
    if (live.isEmpty())
        return next;
    // A message urgent enough wakes the receiver for all: those before it go first, lit.
    next.wake = std::any_of(live.cbegin(), live.cend(), [&settings](const Waiting *message) {
        return message->priority >= settings.wakeAt;
    });
    Time until = now;
    if (receiver.hold == Hold::Unreachable || (receiver.hold == Hold::Standby && !next.wake))
        until = std::max(until, receiver.holdUntil);
    until = std::max(until, receiver.freeAt);
    if (until <= now) {
        next.action = Next::Action::Send;
        next.message = live.first()->id;
        return next;
    }
    // Decided again when the first of the waiting messages expires, if that comes sooner.
    const auto soonest
        = std::min_element(live.cbegin(), live.cend(), [](const Waiting *a, const Waiting *b) {
              return a->expires < b->expires;
          });
    next.action = Next::Action::WaitUntil;
    next.at = std::min(until, (*soonest)->expires);
    next.wake = false;
    return next;
}

Receiver After(const Receiver &receiver,
               Outcome outcome,
               const Waiting &sent,
               const Settings &settings,
               Time now)
{
    Receiver after = receiver;
    switch (outcome) {
    case Outcome::Shown:
        after.freeAt = now + (sent.display > Seconds(0) ? sent.display : settings.timeout);
        after.hold = Hold::None;
        after.pause = Seconds(0);
        break;
    case Outcome::InStandby:
        after.hold = Hold::Standby;
        after.holdUntil = now + settings.standbyCheck;
        after.pause = Seconds(0);
        break;
    case Outcome::Unreachable:
        after.pause
            = receiver.pause > Seconds(0) ? std::min(receiver.pause * 2, LongestPause) : FirstPause;
        after.hold = Hold::Unreachable;
        after.holdUntil = now + after.pause;
        break;
    case Outcome::Failed: // the receiver answered: the next message goes as it would have
        after.hold = Hold::None;
        after.pause = Seconds(0);
        break;
    }
    return after;
}

} // namespace RelayRules
