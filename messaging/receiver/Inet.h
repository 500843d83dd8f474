#pragma once

#include "ReceiverDialogue.h"

#include <QObject>
#include <QSet>

#include <chrono>
#include <functional>

// The transfer component: sends messages to receivers and tells whether each was taken.
// Sends never block; any number may be under way at once. It remembers, for as long as it lives,
// which receivers take the second-generation message call.
class Inet : public QObject
{
    Q_OBJECT

public:
    // Called once per send with how it ended.
    using Done = ReceiverDialogue::Done;
    using Handlers = ReceiverDialogue::Handlers;

    explicit Inet(std::chrono::milliseconds timeout = std::chrono::seconds(60),
                  QObject *parent = nullptr);
    ~Inet() override;

    // Sends the message to the receiver at its address. The handlers are called from the event
    // loop, and skipped if context is gone by then (a pause is then cancelled).
    void Send(const Message &message, QObject *context, Handlers handlers);
    void Send(const Message &message, QObject *context, Done done)
    {
        Send(message, context, Handlers{std::move(done)});
    }

    // Every dialogue from now on tells trace what it says to the receiver and what it hears.
    void setTrace(ReceiverDialogue::Trace trace) { m_trace = std::move(trace); }

    // Every dialogue from now on takes these certificates beyond those the system trusts.
    void setCertificateTrust(const CertificateTrust &trust) { m_trust = trust; }

    // Sends whose outcome has not been told yet; a receiver still asked for its hardware
    // address after that does not count.
    int pendingCount() const { return m_pending; }

    // Whether every dialogue has ended, learning included: nothing more goes to a receiver.
    bool isIdle() const { return m_dialogues.isEmpty(); }

signals:
    void pendingCountChanged(int count);

private:
    std::chrono::milliseconds m_timeout;
    SecondGenerationReceivers m_secondGeneration;
    ReceiverDialogue::Trace m_trace;
    CertificateTrust m_trust;
    QSet<ReceiverDialogue *> m_dialogues; // every one not yet ended
    int m_pending = 0;
};
