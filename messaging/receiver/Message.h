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

// One message, read from what was typed: where it goes, what it says, and how it is shown.
struct Message
{
    ReceiverAddress address;
    QString caption;
    QString body;
    std::variant<Notice, Question> kind;

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

    static SendOutcome failed(const SendFailure &failure)
    {
        return {failure, Worded(failure), std::nullopt, std::nullopt};
    }
};
