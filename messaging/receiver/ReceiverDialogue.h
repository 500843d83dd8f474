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
    using Decided = std::function<void(DialogueRules::Choice choice)>;
    // Asks the person sending to decide a pause (why: the failure it would otherwise end in);
    // the dialogue waits, with no time-out running, until decided is called.
    using Ask = std::function<void(
        DialogueRules::Pause pause, const SendOutcome &why, const Decided &decided)>;
    // Told the receiver's hardware address, learned after the message was reported taken.
    using Learned = std::function<void(const QString &hardwareAddress)>;

    // Who hears of a send: its end, once; its pauses, where somebody can decide (without ask,
    // the dialogue decides by the message alone); what it learned afterwards.
    struct Handlers
    {
        Done done;
        Ask ask = {};
        Learned learned = {};
    };

    // Learning the hardware address after the message was taken ends within this.
    static constexpr std::chrono::milliseconds LearnWithin{5000};

    // known must outlive the dialogue. timeout bounds the message's requests together, and each
    // request for a question's answer on its own.
    ReceiverDialogue(const Message &message,
                     SecondGenerationReceivers &known,
                     const CertificateTrust &trust,
                     std::chrono::milliseconds timeout,
                     QObject *parent = nullptr);

    // Sends, once. done comes from the event loop; destroying the dialogue before then abandons
    // it and done is not called.
    void start(Handlers handlers);

    void setTrace(Trace trace) { m_trace = std::move(trace); }

signals:
    // Nothing more will come of it: done was told, and the hardware address learned or not.
    void ended();

private:
    using Step = DialogueRules::Step;

    void send(Step step);
    void judge(Step step, const HttpOutcome &outcome);
    void carryOut(const DialogueRules::Next &next);
    void pause(const DialogueRules::Next &next);
    SendOutcome untrusted(const PeerCertificate &certificate) const;
    void sendMagicPacket();
    void finish(const DialogueRules::Next &next);
    void learn(const HttpOutcome &outcome);
    void trace(const QString &line) const;

    Message m_message;
    SecondGenerationReceivers &m_known;
    CertificateTrust m_trust;
    std::chrono::milliseconds m_timeout;
    Handlers m_handlers;
    Trace m_trace;
    DialogueRules::State m_state;
    QPointer<HttpExchange> m_exchange;
    bool m_waiting = false;  // a question is on the screen: each request has a time-out of its own
    bool m_learning = false; // the message was reported: only its hardware address is asked
    bool m_messageSent = false; // the message itself went out: it may be on the screen
    QTimer m_timer;             // the time-out of the requests under way
    QDeadlineTimer m_wait;      // a question: until when a person's answer is waited for
    QTimer m_next;              // when to send the next request
    Step m_nextStep = Step::Answer;
};
