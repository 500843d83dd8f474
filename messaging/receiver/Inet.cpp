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
    qDeleteAll(std::exchange(m_dialogues, {}));
}

void Inet::Send(const Message &message, QObject *context, Handlers handlers)
{
    auto *dialogue = new ReceiverDialogue(message, m_secondGeneration, m_trust, m_timeout, this);
    dialogue->setTrace(m_trace);
    m_dialogues.insert(dialogue);
    ++m_pending;
    emit pendingCountChanged(m_pending);
    connect(dialogue, &ReceiverDialogue::ended, this, [this, dialogue] {
        m_dialogues.remove(dialogue);
        dialogue->deleteLater();
    });
    const QPointer<QObject> guard(context);
    Handlers told;
    told.done = [this, guard, done = std::move(handlers.done)](const SendOutcome &outcome) {
        emit pendingCountChanged(--m_pending);
        if (guard)
            done(outcome);
    };
    if (handlers.ask)
        told.ask
            = [guard, ask = std::move(handlers.ask)](DialogueRules::Pause pause,
                                                     const SendOutcome &why,
                                                     const ReceiverDialogue::Decided &decided) {
                  if (guard)
                      ask(pause, why, decided);
                  else
                      decided(DialogueRules::Choice::Cancel);
              };
    if (handlers.learned)
        told.learned = [guard, learned = std::move(handlers.learned)](const QString &address) {
            if (guard)
                learned(address);
        };
    dialogue->start(std::move(told));
}
