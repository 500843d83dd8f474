#include "ReceiverQueue.h"
#include "Inet.h"
#include "PlainText.h"
#include "SendResult.h"

#include <algorithm>

using State = RelayStore::State;

ReceiverQueue::ReceiverQueue(const QString &name,
                             const Message &reaching,
                             RelayStore &store,
                             Senders senders,
                             const RelayRules::Settings &settings,
                             Clock now,
                             Log log,
                             QObject *parent)
    : QObject(parent)
    , m_name(name)
    , m_reaching(reaching)
    , m_store(store)
    , m_senders(senders)
    , m_settings(settings)
    , m_now(std::move(now))
    , m_log(std::move(log))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ReceiverQueue::decide);
}

void ReceiverQueue::poke()
{
    if (!m_sending)
        decide();
}

void ReceiverQueue::wake()
{
    if (m_sending) {
        m_wakeWanted = true;
        return;
    }
    m_wakeWanted = false;
    m_timer.stop();
    Message message = m_reaching;
    message.kind = PowerQuery{true};
    m_sending = true;
    m_log(QStringLiteral("waking %1, as asked").arg(m_name));
    m_senders.waking->Send(message, this, [this](const SendOutcome &outcome) { woken(outcome); });
}

void ReceiverQueue::woken(const SendOutcome &outcome)
{
    m_sending = false;
    if (outcome.power == SendOutcome::Power::On) {
        // Whatever was held for a dark screen may go now.
        m_state.hold = RelayRules::Hold::None;
        m_state.holdUntil = RelayRules::Time(0);
        learnt(Power::On);
    } else if (outcome.power == SendOutcome::Power::Standby) {
        learnt(Power::Standby);
    } else if (outcome.failure) {
        m_log(QStringLiteral("not woken: %1: %2").arg(m_name, PlainText::from(outcome.reason)));
        learnt(SendResult(outcome) == RelayRules::Outcome::Unreachable ? Power::Unreachable
                                                                       : m_power);
    }
    decide();
}

void ReceiverQueue::learnt(Power power)
{
    m_power = power;
    emit changed();
}

void ReceiverQueue::decide()
{
    m_timer.stop();
    QList<RelayRules::Waiting> waiting;
    for (const RelayStore::Pending &message : m_store.PendingFor(m_name))
        waiting += RelayRules::Waiting{message.id,
                                       RelayRules::Time(message.expires),
                                       message.priority,
                                       RelayRules::Seconds(message.display)};
    const qint64 now = m_now();
    const RelayRules::Next next
        = RelayRules::Decide(waiting, m_state, m_settings, RelayRules::Time(now));
    expire(next.expired);
    switch (next.action) {
    case RelayRules::Next::Action::Rest:
        return;
    case RelayRules::Next::Action::WaitUntil:
        m_timer.start(std::chrono::milliseconds(std::max<qint64>(0, next.at.count() - now)));
        return;
    case RelayRules::Next::Action::Send:
        const auto message = std::find_if(waiting.cbegin(), waiting.cend(), [&next](const auto &w) {
            return w.id == next.message;
        });
        return send(*message, next.wake);
    }
}

void ReceiverQueue::expire(const QList<qint64> &ids)
{
    for (const qint64 id : ids) {
        set(id, State::Expired);
        m_log(QStringLiteral("expired: message %1 for %2, not shown within its lifetime")
                  .arg(id)
                  .arg(m_name));
    }
}

void ReceiverQueue::send(const RelayRules::Waiting &pending, bool wake)
{
    const std::optional<RelayStore::Message> stored = m_store.Find(pending.id);
    if (!stored)
        return;
    Message message = m_reaching;
    message.caption = stored->title;
    message.body = stored->text;
    if (stored->type == QLatin1String("question")) {
        message.kind
            = Question{pending.display > RelayRules::Seconds(0) ? pending.display : QuestionWait};
    } else {
        Notice notice;
        notice.box = stored->type == QLatin1String("warning") ? BoxType::Warning
                     : stored->type == QLatin1String("error") ? BoxType::Error
                                                              : BoxType::Info;
        notice.timeout = QString::number(
            (pending.display > RelayRules::Seconds(0) ? pending.display : m_settings.timeout)
                .count());
        message.kind = notice;
    }
    message.standby = wake ? InStandby::Wake : InStandby::Refuse;
    // Before it goes: if the relay stops now, the next start knows it may have been shown.
    set(pending.id, State::Sending);
    m_sending = true;
    Inet *inet = wake ? m_senders.waking : m_senders.plain;
    RelayRules::Waiting going = pending;
    if (message.isQuestion()) // once answered, the box is gone: the screen is free at once
        going.display = RelayRules::Seconds(0);
    inet->Send(message, this, [this, going](const SendOutcome &outcome) { sent(going, outcome); });
}

void ReceiverQueue::sent(const RelayRules::Waiting &pending, const SendOutcome &outcome)
{
    m_sending = false;
    const RelayRules::Outcome result = SendResult(outcome);
    m_state = RelayRules::After(m_state, result, pending, m_settings, RelayRules::Time(m_now()));
    if (outcome.answer) {
        static const QStringList answers{
            QStringLiteral("yes"), QStringLiteral("no"), QStringLiteral("none")};
        const QString answer = answers[int(*outcome.answer)];
        if (const auto why = m_store.SetAnswer(pending.id, m_name, answer))
            m_log(QStringLiteral("store: %1").arg(*why));
        m_log(QStringLiteral("answered: message %1 on %2: %3").arg(pending.id).arg(m_name, answer));
        emit answered(pending.id, answer);
    }
    m_power = result == RelayRules::Outcome::Shown         ? Power::On
              : result == RelayRules::Outcome::InStandby   ? Power::Standby
              : result == RelayRules::Outcome::Unreachable ? Power::Unreachable
                                                           : m_power;
    const QString reason = PlainText::from(outcome.reason);
    const QString said = QStringLiteral("message %1 on %2").arg(pending.id).arg(m_name);
    switch (result) {
    case RelayRules::Outcome::Shown:
        set(pending.id, State::Shown);
        m_log(QStringLiteral("shown: ") + said);
        break;
    case RelayRules::Outcome::InStandby:
    case RelayRules::Outcome::Unreachable:
        hold(pending.id,
             result == RelayRules::Outcome::InStandby ? State::HeldStandby : State::HeldUnreachable,
             reason);
        m_log(QStringLiteral("held: %1: %2").arg(said, reason));
        break;
    case RelayRules::Outcome::Failed:
        set(pending.id, State::Failed, reason);
        m_log(QStringLiteral("failed: %1: %2").arg(said, reason));
        break;
    }
    if (m_wakeWanted)
        return wake();
    decide();
}

// Back in the line; one like it that came while it was on its way takes its place.
void ReceiverQueue::hold(qint64 id, State state, const QString &reason)
{
    set(id, state, reason);
    if (const auto why = m_store.MergeIdentical(id, m_name, m_now()))
        m_log(QStringLiteral("store: %1").arg(*why));
}

void ReceiverQueue::set(qint64 id, State state, const QString &reason)
{
    const qint64 now = m_now();
    if (const auto why = m_store.Set(id, m_name, state, now, reason))
        m_log(QStringLiteral("store: %1").arg(*why));
    m_lastId = id;
    m_lastState = state;
    m_lastAt = now;
    emit changed();
}
