#include "SendToReceiver.h"
#include "InetOnDemand.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace {

void report(const SendQuestions &ask, const QString &reason)
{
    ask.report(QCoreApplication::translate("SendToReceiver", "Message not delivered: ") + reason);
}

// The send's pauses, decided by the user in the window's boxes.
void decide(const SendQuestions &ask,
            DialogueRules::Pause pause,
            const SendOutcome &why,
            const ReceiverDialogue::Decided &decided)
{
    using DialogueRules::Choice;
    switch (pause) {
    case DialogueRules::Pause::Certificate:
        return decided(why.untrusted && ask.trust(*why.untrusted) ? Choice::Go : Choice::Cancel);
    case DialogueRules::Pause::Standby:
    case DialogueRules::Pause::NothingAnswers:
        return decided(ask.standby(pause));
    }
}

void send(const Message &message, QPlainTextEdit *log, InetOnDemand &inet, const SendQuestions &ask)
{
    Transfer::Handlers handlers;
    handlers.done = [body = message.body, log, ask](const SendOutcome &outcome) {
        if (!outcome.failure)
            return AppendToSessionLog(log, body);
        if (outcome.failure->kind != SendFailure::Kind::Cancelled)
            report(ask, outcome.reason);
    };
    handlers.ask = [ask](DialogueRules::Pause pause,
                         const SendOutcome &why,
                         const ReceiverDialogue::Decided &decided) {
        decide(ask, pause, why, decided);
    };
    if (message.learnHardwareAddress)
        handlers.learned = [ask, key = message.address.receiverKey()](const QString &address) {
            ask.keepHardwareAddress(key, address);
        };
    inet.Send(message, log, std::move(handlers));
}

} // namespace

void SendToReceiver(const MessageFields &fields, InetOnDemand &inet, const SendQuestions &ask)
{
    // What was typed is read once, here; the message carries the address's parts.
    auto address = inet.ReadAddress(fields.Text1->text());
    if (const QString *why = std::get_if<QString>(&address))
        return report(ask, *why);
    Message message;
    message.address = std::get<ReceiverAddress>(std::move(address));
    message.kind = Notice{BoxType::Info, fields.Text3->text()};
    message.caption = fields.Text4->text();
    message.body = fields.Text2->text();
    // Asked before anything is shown: in standby the user decides.
    message.standby = InStandby::Ask;
    message.hardwareAddress = ask.keptHardwareAddress(message.address.receiverKey());
    message.learnHardwareAddress = message.hardwareAddress.isEmpty();
    send(message, fields.Text5, inet, ask);
}

void AppendToSessionLog(QPlainTextEdit *log, const QString &body)
{
    const bool empty = log->document()->isEmpty();
    if (empty && body.isEmpty())
        return;
    log->moveCursor(QTextCursor::End);
    log->insertPlainText(empty ? body : QLatin1Char('\n') + body);
    log->ensureCursorVisible();
}
