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
    Notice notice;
    notice.box = stored->type == QLatin1String("warning") ? BoxType::Warning
                 : stored->type == QLatin1String("error") ? BoxType::Error
                                                          : BoxType::Info;
    notice.timeout = QString::number(
        (pending.display > RelayRules::Seconds(0) ? pending.display : m_settings.timeout).count());
    message.kind = notice;
    message.standby = wake ? InStandby::Wake : InStandby::Refuse;
    // Before it goes: if the relay stops now, the next start knows it may have been shown.
    set(pending.id, State::Sending);
    m_sending = true;
    Inet *inet = wake ? m_senders.waking : m_senders.plain;
    inet->Send(
        message, this, [this, pending](const SendOutcome &outcome) { sent(pending, outcome); });
}

void ReceiverQueue::sent(const RelayRules::Waiting &pending, const SendOutcome &outcome)
{
    m_sending = false;
    const RelayRules::Outcome result = SendResult(outcome);
    m_state = RelayRules::After(m_state, result, pending, m_settings, RelayRules::Time(m_now()));
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
    if (const auto why = m_store.Set(id, m_name, state, m_now(), reason))
        m_log(QStringLiteral("store: %1").arg(*why));
}
