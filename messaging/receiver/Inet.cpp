#include "Inet.h"

#include <QPointer>

#include <utility>

Inet::Inet(std::chrono::milliseconds timeout, QObject *parent)
    : QObject(parent)
    , m_timeout(timeout)
{}

Inet::~Inet()
{
    // Closing the window abandons whatever is still under way, without telling anybody.
    qDeleteAll(std::exchange(m_pending, {}));
}

void Inet::Send(const Message &message, QObject *context, Done done)
{
    auto *dialogue = new ReceiverDialogue(message, m_secondGeneration, m_trust, m_timeout, this);
    dialogue->setTrace(m_trace);
    m_pending.insert(dialogue);
    emit pendingCountChanged(pendingCount());
    dialogue->start([this, dialogue, context = QPointer<QObject>(context), done = std::move(done)](
                        const SendOutcome &outcome) {
        m_pending.remove(dialogue);
        dialogue->deleteLater();
        emit pendingCountChanged(pendingCount());
        if (context)
            done(outcome);
    });
}
