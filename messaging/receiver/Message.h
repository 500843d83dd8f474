#pragma once

#include "CertificateTrust.h"

#include <QString>

#include <optional>

// The four values that describe one message, as typed.
struct Message
{
    static constexpr int Question = 0; // type of a yes/no question

    QString address; // [https://][user:password@]host[:port]
    QString timeout; // passed on as typed; a question goes without one
    QString caption;
    QString body;
    int type = 1; // the second generation's box: 1 information, 2 warning, 3 error, 0 question
    int wait = 0; // a question: seconds to wait for a person's answer
};

// How one send ended.
struct SendOutcome
{
    enum class Answer { Yes, No, NotInTime };

    QString failure; // empty when the receiver took the message (or asked the question)
    // The certificate that ended the dialogue before anything was sent, when that was why.
    std::optional<UntrustedCertificate> untrusted;
    std::optional<Answer> answer; // a question's answer, as a person gave it, or none in time
};
