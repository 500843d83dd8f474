#include "ReceiverDialogue.h"
#include "HttpExchange.h"
#include "PlainText.h"
#include "WakeOnLan.h"

#include <QNetworkInterface>
#include <QUdpSocket>

#include <memory>
#include <utility>
#include <variant>

ReceiverDialogue::ReceiverDialogue(const Message &message,
                                   SecondGenerationReceivers &known,
                                   const CertificateTrust &trust,
                                   std::chrono::milliseconds timeout,
                                   QObject *parent)
    : QObject(parent)
    , m_message(message)
    , m_known(known)
    , m_trust(trust)
    , m_timeout(timeout)
{
    m_timer.setSingleShot(true);
    m_state.timeoutSeconds = QString::number(static_cast<double>(m_timeout.count()) / 1000.0);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_learning) // the message was reported already: nothing learned, and no more
            return finish({});
        const bool waking = m_state.woken || m_state.wakeOnLanSent;
        DialogueRules::Next timedOut;
        timedOut.outcome = SendOutcome::failed(
            SendFailure::of(waking ? SendFailure::Kind::NotAwake : SendFailure::Kind::TimedOut,
                            {m_state.timeoutSeconds}));
        finish(timedOut);
    });
    m_next.setSingleShot(true);
    // A coarse timer may fire a little early, just short of the end of the wait, and the answer
    // would then be asked for once more a few milliseconds later.
    m_next.setTimerType(Qt::PreciseTimer);
    connect(&m_next, &QTimer::timeout, this, [this] { send(m_nextStep); });
}

void ReceiverDialogue::start(Handlers handlers)
{
    m_handlers = std::move(handlers);
    m_state.canAsk = bool(m_handlers.ask);
    m_timer.start(m_timeout);
    const auto known = m_known.constFind(m_message.address.origin());
    send(DialogueRules::FirstStep(m_message,
                                  m_state,
                                  known == m_known.cend() ? std::nullopt
                                                          : std::optional<QString>(*known)));
}

void ReceiverDialogue::send(Step step)
{
    if (m_waiting && !m_learning)
        m_timer.start(m_timeout);
    const HttpRequest request = DialogueRules::RequestFor(m_message, m_state, step);
    const QString peer = m_message.address.shown();
    m_exchange = new HttpExchange(
        request,
        [trust = m_trust, key = m_message.address.receiverKey()](const PeerCertificate &seen) {
            return trust.trusts(key, seen.sha256);
        },
        [this, step](const HttpOutcome &outcome) { judge(step, outcome); },
        this);
    m_exchange->setSent([this, request, peer, step] {
        if (step == Step::FirstGeneration || step == Step::Message)
            m_messageSent = true;
        trace(QStringLiteral("> %1 (to %2)")
                  .arg(QString::fromUtf8(HttpExchange::requestLine(request)), peer));
    });
}

void ReceiverDialogue::judge(Step step, const HttpOutcome &outcome)
{
    m_exchange->deleteLater();
    // A receiver that lacks the first-generation call showed nothing of it.
    if (step == Step::FirstGeneration && !outcome.failure && outcome.answer.status == 404)
        m_messageSent = false;
    const QString peer = m_message.address.shown();
    if (!outcome.tls.isEmpty())
        trace(QStringLiteral("* %1 (with %2)").arg(outcome.tls, peer));
    if (outcome.refused) {
        const SendOutcome refused = untrusted(*outcome.refused);
        trace(QStringLiteral("< %1 (from %2)").arg(refused.reason, peer));
        return carryOut(m_learning ? DialogueRules::Next{}
                                   : DialogueRules::CertificateRefused(m_state, step, refused));
    }
    const std::chrono::milliseconds waitLeft
        = std::chrono::ceil<std::chrono::milliseconds>(m_wait.remainingTimeAsDuration());
    const DialogueRules::Next next
        = DialogueRules::Decide(m_message, m_state, step, outcome, waitLeft);
    const ReceiverAddress &address = m_message.address;
    if (outcome.failure && outcome.failure->kind == HttpFailure::Kind::Tls)
        trace(QStringLiteral("* TLS failed: %1 (with %2)")
                  .arg(PlainText::from(outcome.failure->detail), peer));
    const QString said = outcome.failure
                             ? Worded(SendFailure::ofExchange(*outcome.failure, address))
                             : PlainText::from(outcome.answer.statusLine);
    trace(QStringLiteral("< %1 (from %2)").arg(said, peer));
    for (const QString &line : next.said)
        trace(QStringLiteral("< %1 (from %2)").arg(line, peer));
    if (next.forget)
        m_known.remove(m_message.address.origin());
    if (next.remember)
        m_known.insert(m_message.address.origin(), m_state.session);
    carryOut(next);
}

void ReceiverDialogue::carryOut(const DialogueRules::Next &next)
{
    switch (next.action) {
    case DialogueRules::Next::Action::Send:
        return send(next.step);
    case DialogueRules::Next::Action::WakeOnLan:
        sendMagicPacket();
        [[fallthrough]];
    case DialogueRules::Next::Action::SendAfter:
        if (next.step == Step::Answer) { // a question is on the screen
            if (!m_waiting) {            // the wait starts now
                m_wait.setRemainingTime(std::get<Question>(m_message.kind).wait);
                m_waiting = true;
            }
            m_timer.stop();
        }
        m_nextStep = next.step;
        return m_next.start(next.after);
    case DialogueRules::Next::Action::Ask:
        return pause(next);
    case DialogueRules::Next::Action::Finish:
        return finish(next);
    }
}

// Nothing goes to the receiver, and no time runs out, until the person decides; then the
// dialogue goes on from the step where it stopped, once, whatever the answer.
void ReceiverDialogue::pause(const DialogueRules::Next &next)
{
    m_timer.stop();
    m_next.stop();
    auto decidedOnce = std::make_shared<bool>(false);
    m_handlers.ask(
        next.pause,
        next.outcome,
        [self = QPointer<ReceiverDialogue>(this), decidedOnce, next](DialogueRules::Choice choice) {
            if (!self || std::exchange(*decidedOnce, true) || !self->m_handlers.done)
                return;
            if (!self->m_waiting)
                self->m_timer.start(self->m_timeout);
            self->carryOut(DialogueRules::Resume(
                self->m_message, self->m_state, next.step, next.pause, choice));
        });
}

// Nothing was sent over a connection whose certificate was not trusted: the user may trust it.
SendOutcome ReceiverDialogue::untrusted(const PeerCertificate &certificate) const
{
    UntrustedCertificate seen;
    seen.receiver = m_message.address.receiverKey();
    seen.fingerprint = certificate.sha256;
    seen.trusted = m_trust.keptFor(seen.receiver);
    seen.validFrom = certificate.validFrom;
    seen.validUntil = certificate.validUntil;
    SendOutcome outcome = SendOutcome::failed(
        seen.changed() ? SendFailure::of(
            SendFailure::Kind::CertificateChanged,
            {FormatFingerprint(seen.fingerprint), FormatFingerprint(seen.trusted)})
                       : SendFailure::of(SendFailure::Kind::CertificateUntrusted,
                                         {FormatFingerprint(seen.fingerprint)}));
    outcome.untrusted = seen;
    return outcome;
}

// To the receiver's own address and the broadcast address of its network, nowhere else.
void ReceiverDialogue::sendMagicPacket()
{
    const auto hardwareAddress = ParseHardwareAddress(m_message.hardwareAddress);
    if (!hardwareAddress || !IsWakeable(*hardwareAddress))
        return;
    QList<QNetworkAddressEntry> networks;
    for (const QNetworkInterface &network : QNetworkInterface::allInterfaces())
        networks += network.addressEntries();
    QUdpSocket socket;
    for (const QHostAddress &target : WakeTargets(QHostAddress(m_message.address.host), networks)) {
        trace(QStringLiteral("> magic packet for %1 (to %2 port %3)")
                  .arg(FormatHardwareAddress(*hardwareAddress), target.toString())
                  .arg(WakeOnLanPort));
        socket.writeDatagram(MagicPacket(*hardwareAddress), target, WakeOnLanPort);
    }
}

void ReceiverDialogue::trace(const QString &line) const
{
    if (m_trace)
        m_trace(line);
}

// The outcome is told once. A message that was taken is then asked its receiver's hardware
// address, for a few seconds at most: nothing the outcome said changes.
void ReceiverDialogue::finish(const DialogueRules::Next &next)
{
    m_timer.stop();
    m_next.stop();
    delete m_exchange;
    if (m_learning) {
        m_learning = false;
        if (!next.outcome.hardwareAddress.isEmpty() && m_handlers.learned)
            m_handlers.learned(next.outcome.hardwareAddress);
        emit ended();
        return;
    }
    if (!m_handlers.done)
        return;
    const Done done = std::exchange(m_handlers.done, nullptr);
    const QPointer<ReceiverDialogue> self(this);
    SendOutcome outcome = next.outcome;
    outcome.messageSent = m_messageSent;
    done(outcome);
    if (!self)
        return;
    if (next.learn && m_handlers.learned) {
        m_learning = true;
        m_timer.start(LearnWithin);
        return send(Step::About);
    }
    emit ended();
}
