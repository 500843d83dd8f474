#pragma once

#include "CertificateTrust.h"
#include "DialogueRules.h"
#include "Message.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

class HttpExchange;

// Receivers known to take the second-generation message call, by [https://]host:port, each with
// the session id it handed out (empty when it has no sessions). Kept in memory only.
using SecondGenerationReceivers = QHash<QString, QString>;

// Everything one press of Send says to the receiver. First the first-generation message request;
// a receiver that lacks it (HTTP 404) is asked through the second-generation call instead, with a
// session when it hands one out. A question goes the second-generation way only, and then asks
// about once a second whether a person has answered. Every request goes to the message's one
// address. What comes next is decided by DialogueRules; this carries it out, with the time-outs.
// The whole dialogue ends in one outcome.
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

    // Sends, once. done comes from the event loop; destroying the dialogue before then abandons
    // it and done is not called.
    void start(Done done);

    void setTrace(Trace trace) { m_trace = std::move(trace); }

private:
    using Step = DialogueRules::Step;

    void send(Step step);
    void judge(Step step, const HttpOutcome &outcome);
    SendOutcome untrusted(const PeerCertificate &certificate) const;
    void sendMagicPacket();
    void finish(const SendOutcome &outcome);
    void trace(const QString &line) const;

    Message m_message;
    SecondGenerationReceivers &m_known;
    CertificateTrust m_trust;
    std::chrono::milliseconds m_timeout;
    Done m_done;
    Trace m_trace;
    DialogueRules::State m_state;
    QPointer<HttpExchange> m_exchange;
    bool m_waiting = false; // a question is on the screen: each request has a time-out of its own
    QTimer m_timer;         // the time-out of the requests under way
    QDeadlineTimer m_wait;  // a question: until when a person's answer is waited for
    QTimer m_next;          // when to send the next request
    Step m_nextStep = Step::Answer;
};
