#pragma once

#include "CertificateTrust.h"
#include "HttpExchange.h"
#include "ReceiverAddress.h"
#include "Message.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

// Receivers known to take the second-generation message call, by [https://]host:port, each with
// the session id it handed out (empty when it has no sessions). Kept in memory only.
using SecondGenerationReceivers = QHash<QString, QString>;

// Everything one press of Send says to the receiver. First the first-generation message request;
// a receiver that lacks it (HTTP 404) is asked through the second-generation call instead, with a
// session when it hands one out. A question goes the second-generation way only, and then asks
// about once a second whether a person has answered. Every request goes to the one address read
// from what was typed. The whole dialogue ends in one outcome.
class ReceiverDialogue : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(const SendOutcome &outcome)>;
    // Told each request line and each answer's status line, for whoever wants to see them.
    using Trace = std::function<void(const QString &line)>;

    // known must outlive the dialogue. timeout bounds the message's requests together, and each
    // request for a question's answer on its own.
    ReceiverDialogue(const Message &message,
                     SecondGenerationReceivers &known,
                     const CertificateTrust &trust,
                     std::chrono::milliseconds timeout,
                     QObject *parent = nullptr);

    // Sends, once. done may come before this returns, when the address is not one a message can
    // go to; destroying the dialogue before then abandons it and done is not called.
    void start(Done done);

    void setTrace(Trace trace) { m_trace = std::move(trace); }

private:
    // The requests of the dialogue, in the order they may come.
    enum class Step {
        FirstGeneration, // the message as a first-generation receiver takes it
        Session,         // the session id a second-generation receiver may hand out
        EarlierAnswer,   // before a question: an answer left from an earlier one is not ours
        Message,         // the message, or the question, as a second-generation box
        Answer,          // whether a person has answered the question yet
    };

    HttpRequest requestFor(Step step) const;
    void send(Step step);
    void judge(Step step, const HttpOutcome &outcome);
    void judgeFirstGeneration(const HttpAnswer &answer);
    void takeSession(const HttpAnswer &answer);
    void judgeMessage(const HttpAnswer &answer);
    void judgeAnswer(const HttpAnswer &answer);
    bool isQuestion() const { return m_message.type == Message::Question; }
    bool isLongRequest() const;
    QString knownKey() const;
    void fail(const QString &failure);
    void finish(const SendOutcome &outcome);
    void trace(const QString &line) const;

    Message m_message;
    ReceiverAddress m_address;
    SecondGenerationReceivers &m_known;
    CertificateTrust m_trust;
    std::chrono::milliseconds m_timeout;
    Done m_done;
    Trace m_trace;
    QString m_session;             // the second-generation session id, if any
    bool m_remembered = false;     // the receiver was known to take the second-generation call
    bool m_sessionRenewed = false; // a refused session was replaced once already
    bool m_answerSessionRenewed = false; // replaced while waiting, since the last answer request
    HttpExchange *m_exchange = nullptr;
    QTimer m_timer;        // the time-out of the requests under way
    QDeadlineTimer m_wait; // a question: until when a person's answer is waited for
    QTimer m_nextAnswer;   // a question: when to ask for the answer again
};
