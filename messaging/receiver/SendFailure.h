#pragma once

#include "HttpExchange.h"
#include "ReceiverAddress.h"

#include <QString>
#include <QStringList>

// Why a message was not delivered (or a question not answered): what went wrong, and what the
// words for it need. Worded() says it to the user; quillora-send maps the kind to its exit
// status.
struct SendFailure
{
    // What an answer that is not understood answered.
    static constexpr const char *Message = "message";
    static constexpr const char *Question = "question";
    static constexpr const char *AnswerText = "answer text";

    enum class Kind {
        NoAnswer,             // the connection failed or ended without an answer
        RefusedConnection,    // nothing answers at that address and port
        NameUnknown,          // no receiver has that name
        LoginWanted,          // the receiver wants a login, and the address holds none
        LoginRefused,         // the receiver refused the login given
        TimedOut,             // no answer within the time-out
        HttpError,            // the receiver answered with an HTTP error
        RefusedByReceiver,    // the receiver refused the message, in its own words if any
        CantAsk,              // the receiver can't ask questions
        NotUnderstood,        // the receiver's answer can't be read with certainty: to what
                              // (Message, Question, AnswerText with the text), or refusal
        CertificateUntrusted, // the receiver's certificate is not trusted
        CertificateChanged,   // it differs from the one trusted for the receiver
        TlsFailed,            // no TLS connection could be made
        InStandby,            // the receiver is in standby: nobody would see the message
        NotAwake,             // it did not come out of standby within the time-out
        Cancelled,            // the person sending chose not to go on
    };

    Kind kind = Kind::NoAnswer;
    // What the words need, by kind: the receiver's host and port (RefusedConnection, TlsFailed,
    // NameUnknown: the host), the system's (NoAnswer) or the receiver's own words, the answer's
    // status and reason (HttpError), fingerprints (certificates), the address (LoginWanted).
    QStringList details;
    HttpRefusal refusal; // NotUnderstood and NoAnswer from an answer that was refused
    bool fromRefusal = false;
    bool plainAtHttpsPort = false; // no answer to plain HTTP at port 443, HTTPS's own

    // The ways a dialogue fails, each with what its words need.
    static SendFailure of(Kind kind, QStringList details = {});
    static SendFailure ofExchange(const HttpFailure &failure, const ReceiverAddress &address);
};

// The reason, as the user reads it after "Message not delivered: ".
QString Worded(const SendFailure &failure);
