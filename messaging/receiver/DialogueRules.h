#pragma once

#include "HttpExchange.h"
#include "Message.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

// What one press of Send says to the receiver, decided step by step from what it answered,
// with no socket and no timer: the dialogue carries the decisions out.
namespace DialogueRules {

// The requests of the dialogue, in the order they may come.
enum class Step {
    FirstGeneration, // the message as a first-generation receiver takes it
    Session,         // the session id a second-generation receiver may hand out
    EarlierAnswer,   // before a question: an answer left from an earlier one is not ours
    Message,         // the message, or the question, as a second-generation box
    Answer,          // whether a person has answered the question yet
    PowerState,      // whether the receiver is in standby, before anything is shown
    Wake,            // out of standby
    About,           // once the message was taken: the receiver's hardware address
};

// What the dialogue knows so far, beyond the message.
struct State
{
    QString session;                   // the second-generation session id, if any
    bool remembered = false;           // the receiver was known to take the second-generation call
    bool sessionRenewed = false;       // a refused session was replaced once already
    bool answerSessionRenewed = false; // replaced while waiting, since the last answer request
    bool powerAsked = false;           // its power state was asked already
    Step afterPower = Step::Message;   // what goes once the power state is known
    bool woken = false;                // it was told to leave standby: its screen is awaited
    bool wakeOnLanSent = false;        // nothing answered, and a magic packet was sent
};

// What to do next.
struct Next
{
    // WakeOnLan: send the magic packet to the receiver's hardware address, then the step after
    // a while.
    enum class Action { Send, SendAfter, Finish, WakeOnLan };
    Action action = Action::Finish;
    Step step = Step::Message;         // Send, SendAfter
    std::chrono::milliseconds after{}; // SendAfter
    SendOutcome outcome;               // Finish
    bool remember = false;             // the receiver takes the second-generation call
    bool forget = false;               // it no longer does: it is not the receiver it was
    QStringList said;                  // what the receiver's answer said, for the trace

    static Next send(Step step) { return {Action::Send, step, {}, {}, false, false, {}}; }
    static Next sendAfter(Step step, std::chrono::milliseconds after)
    {
        return {Action::SendAfter, step, after, {}, false, false, {}};
    }
};

// The first request: a question goes the second-generation way; a receiver known to take the
// second-generation call (with its session) is sent the message directly.
Step FirstStep(const Message &message, State &state, const std::optional<QString> &knownSession);

// The request for a step, as it goes on the wire.
HttpRequest RequestFor(const Message &message, const State &state, Step step);

// A question's answer is asked for once a second, a receiver that leaves standby likewise; one
// in deep standby is asked every 2 seconds whether its web interface is up.
constexpr std::chrono::milliseconds AskAgainAfter{1000};
constexpr std::chrono::milliseconds AskBootingAfter{2000};

// What the outcome of one step's request leads to. waitLeft: a question's wait still to go.
Next Decide(const Message &message,
            State &state,
            Step step,
            const HttpOutcome &outcome,
            std::chrono::milliseconds waitLeft);

} // namespace DialogueRules
