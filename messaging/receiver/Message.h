#pragma once

#include "CertificateTrust.h"
#include "ReceiverAddress.h"
#include "SendFailure.h"

#include <QString>

#include <chrono>
#include <optional>
#include <variant>

// The box a second-generation receiver shows a notice in, by the number its web interface takes.
enum class BoxType { Info = 1, Warning = 2, Error = 3 };

// A message to be read: in a box of its kind, for as long as its timeout says.
struct Notice
{
    BoxType box = BoxType::Info;
    QString timeout; // passed on as typed
};

// A yes/no question, and how long to wait for a person's answer.
struct Question
{
    std::chrono::seconds wait{60};
};

// Nothing is shown: only whether the receiver's screen is on is asked; or, told to wake, it is
// switched on (from deep standby too, by its hardware address), and told once its screen is.
struct PowerQuery
{
    bool wake = false;
};

// What a message does when its receiver is in standby, where nobody would see it.
enum class InStandby {
    SendAnyway, // it goes as to a receiver that is on, and its power state is not asked
    Refuse,     // nothing is shown, and the send fails as "in standby"
    Wake,       // the receiver is woken (from deep standby too, by its hardware address), then
                // shown the message once its screen is on
    Ask,        // the person sending decides, once the receiver said it is in standby, or when
                // nothing answers at one whose hardware address is known
};

// One message, read from what was typed: where it goes, what it says, and how it is shown.
struct Message
{
    ReceiverAddress address;
    QString caption;
    QString body;
    std::variant<Notice, Question, PowerQuery> kind;
    InStandby standby = InStandby::SendAnyway;
    QString hardwareAddress;           // 00:09:34:AB:CD:EF, for waking it from deep standby
    bool learnHardwareAddress = false; // asked of the receiver once the message was taken

    bool isQuestion() const { return std::holds_alternative<Question>(kind); }
    // A notice's timeout as typed; a question has none.
    QString timeout() const
    {
        const Notice *notice = std::get_if<Notice>(&kind);
        return notice ? notice->timeout : QString();
    }
};

// How one send ended.
struct SendOutcome
{
    enum class Answer { Yes, No, NotInTime };

    std::optional<SendFailure> failure; // none when the receiver took the message (or question)
    QString reason;                     // the failure worded, for whoever shows it
    // The certificate that ended the dialogue before anything was sent, when that was why.
    std::optional<UntrustedCertificate> untrusted;
    std::optional<Answer> answer; // a question's answer, as a person gave it, or none in time
    enum class Power { On, Standby, Unknown };
    std::optional<Power> power; // a power query's answer
    QString hardwareAddress;    // what the receiver said its hardware address is, if asked
    // The message itself was put on the wire: whatever came back, the receiver may show it.
    bool messageSent = false;

    static SendOutcome failed(const SendFailure &failure)
    {
        SendOutcome outcome;
        outcome.failure = failure;
        outcome.reason = Worded(failure);
        return outcome;
    }
};
