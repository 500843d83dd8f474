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

// Where the dialogue stops until the person sending decides; nothing is sent meanwhile, and it
// goes on from the same step.
enum class Pause {
    Certificate,    // the receiver's certificate is not trusted: nothing went over it
    Standby,        // the receiver said it is in standby
    NothingAnswers, // nothing answers at a receiver whose hardware address is known
};

// What the person decided.
enum class Choice {
    Go,     // trust the certificate; or send to the receiver in standby anyway
    Wake,   // wake the receiver, then show the message
    Cancel, // nothing more
};

// What the dialogue knows so far, beyond the message.
struct State
{
    QString session;                   // the second-generation session id, if any
    bool remembered = false;           // the receiver was known to take the second-generation call
    bool sessionRenewed = false;       // a refused session was replaced once already
    bool answerSessionRenewed = false; // replaced while waiting, since the last answer request
    bool sessionForPower = false;     // a session was asked for after a 412 on the power state, the
                                      // wake-up or the hardware address: a second 412 is final
    std::optional<Step> afterSession; // what goes once that session is had
    bool powerAsked = false;          // its power state was asked already
    Step afterPower = Step::Message;  // what goes once the power state is known
    bool woken = false;               // it was told to leave standby: its screen is awaited
    bool wakeOnLanSent = false;       // nothing answered, and a magic packet was sent
    int askedAgain = 0;               // requests repeated while the receiver wakes up
    InStandby standby = InStandby::SendAnyway; // the message's, until the person decides
    bool canAsk = false;                       // somebody is there to decide at a pause
    QString timeoutSeconds;                    // for the words of a receiver that stays asleep
};

// What to do next.
struct Next
{
    // WakeOnLan: send the magic packet to the receiver's hardware address, then the step after
    // a while. Ask: stop until the person decides the pause, then Resume at the step.
    enum class Action { Send, SendAfter, Finish, WakeOnLan, Ask };
    Action action = Action::Finish;
    Step step = Step::Message;         // Send, SendAfter, Ask
    std::chrono::milliseconds after{}; // SendAfter
    SendOutcome outcome;               // Finish; Ask: why it stopped, as a failure
    Pause pause = Pause::Standby;      // Ask
    bool learn = false;    // Finish: then ask the receiver its hardware address, for waking it
    bool remember = false; // the receiver takes the second-generation call
    bool forget = false;   // it no longer does: it is not the receiver it was
    QStringList said;      // what the receiver's answer said, for the trace

    static Next send(Step step)
    {
        Next next;
        next.action = Action::Send;
        next.step = step;
        return next;
    }
    static Next sendAfter(Step step, std::chrono::milliseconds after)
    {
        Next next = send(step);
        next.action = Action::SendAfter;
        next.after = after;
        return next;
    }
};

// The first request: a question goes the second-generation way; a receiver known to take the
// second-generation call (with its session) is sent the message directly.
Step FirstStep(const Message &message, State &state, const std::optional<QString> &knownSession);

// The request for a step, as it goes on the wire.
HttpRequest RequestFor(const Message &message, const State &state, Step step);

// A question's answer is asked for once a second, a receiver that leaves standby likewise; one
// in deep standby is asked every 2 seconds whether its web interface is up, and no receiver
// more than MaxAskedAgain times while it wakes up, whatever the time-out.
constexpr std::chrono::milliseconds AskAgainAfter{1000};
constexpr std::chrono::milliseconds AskBootingAfter{2000};
constexpr int MaxAskedAgain = 150;

// What the outcome of one step's request leads to. waitLeft: a question's wait still to go.
Next Decide(const Message &message,
            State &state,
            Step step,
            const HttpOutcome &outcome,
            std::chrono::milliseconds waitLeft);

// Where the dialogue goes on after the person decided a pause at a step.
Next Resume(const Message &message, State &state, Step step, Pause pause, Choice choice);

// The receiver showed a certificate that is not trusted (refused: the dialogue's failure for
// it): asked about where somebody can decide, else the end.
Next CertificateRefused(State &state, Step step, const SendOutcome &refused);

} // namespace DialogueRules
