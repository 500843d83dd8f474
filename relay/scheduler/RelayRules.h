#pragma once

#include <QList>

#include <chrono>

// What the relay does next for one receiver, decided from what it knows and nothing else: no
// socket, no store, no clock of its own, so that every rule is a row in a table.
//
// A receiver's messages are shown one at a time, in the order they were accepted, each no
// sooner than the one before has had its display time; only on a lit screen; only while they
// are worth showing. Where the receiver is in standby the relay waits and asks again; where
// nothing answers it tries again with growing pauses.
namespace RelayRules {

using Time = std::chrono::milliseconds; // since the epoch, as the store keeps it
using Seconds = std::chrono::seconds;

// The pauses while nothing answers: the first, doubled each time up to the longest.
constexpr Seconds FirstPause{10};
constexpr Seconds LongestPause{300};

// A message accepted for the receiver and not yet shown, failed or expired.
struct Waiting
{
    qint64 id = 0;
    Time expires{0};    // not shown by then, it is never shown
    int priority = 3;   // 1 (min) to 5 (max)
    Seconds display{0}; // how long the receiver shows it; 0: the relay's Timeout
};

// Why the relay is holding back, and until when.
enum class Hold {
    None,
    Standby,     // the screen is dark: asked again after StandbyCheck
    Unreachable, // nothing answered: tried again after a pause that grows
};

// What the relay knows of one receiver.
struct Receiver
{
    Time freeAt{0}; // the display time of the last message shown ends
    Hold hold = Hold::None;
    Time holdUntil{0};
    Seconds pause{0}; // the last pause while unreachable; 0 when it answered
};

// The relay's settings that the rules need.
struct Settings
{
    Seconds timeout{10};      // display time of a message that names none
    Seconds standbyCheck{30}; // between asks while the receiver is in standby
    int wakeAt = 5;           // a message of this priority or more wakes the receiver
};

struct Next
{
    enum class Action {
        Rest,      // nothing waits
        WaitUntil, // decide again at `at`
        Send,      // send `message`, waking the receiver first if `wake`
    };
    Action action = Action::Rest;
    Time at{0};
    qint64 message = 0;
    bool wake = false;
    QList<qint64> expired; // their lifetime ended before they could be shown
};

// What to do now; waiting holds the receiver's messages in the order they were accepted.
Next Decide(const QList<Waiting> &waiting,
            const Receiver &receiver,
            const Settings &settings,
            Time now);

// How a send ended, as the rules see it.
enum class Outcome {
    Shown,       // the receiver took it, on a lit screen
    InStandby,   // the screen is dark: nothing was shown, the message still waits
    Unreachable, // nothing answered: nothing was shown, the message still waits
    Failed,      // trying again can't mend it: the message is done with, failed
};

// What the relay knows of the receiver after a send of sent ended so at now.
Receiver After(const Receiver &receiver,
               Outcome outcome,
               const Waiting &sent,
               const Settings &settings,
               Time now);

} // namespace RelayRules
