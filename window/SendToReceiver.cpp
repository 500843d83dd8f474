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

// In standby, or where nothing answers at a receiver whose hardware address is known, in deep
// standby perhaps: the user decides whether to wake it.
bool mayBeInStandby(const Message &message, const SendOutcome &outcome)
{
    if (!outcome.failure || message.standby != InStandby::Refuse)
        return false;
    const SendFailure::Kind kind = outcome.failure->kind;
    return kind == SendFailure::Kind::InStandby
           || (!message.hardwareAddress.isEmpty()
               && (kind == SendFailure::Kind::RefusedConnection
                   || kind == SendFailure::Kind::NoAnswer));
}

void send(const Message &message, QPlainTextEdit *log, InetOnDemand &inet, const SendQuestions &ask)
{
    inet.Send(message, log, [message, log, &inet, ask](const SendOutcome &outcome) {
        if (outcome.untrusted) {
            if (ask.trust(*outcome.untrusted))
                send(message, log, inet, ask);
            return;
        }
        if (mayBeInStandby(message, outcome)) {
            if (const InStandby choice = ask.standby(); choice != InStandby::Refuse) {
                Message again = message;
                again.standby = choice;
                send(again, log, inet, ask);
            }
            return;
        }
        if (outcome.failure)
            return report(ask, outcome.reason);
        AppendToSessionLog(log, message.body);
        if (!outcome.hardwareAddress.isEmpty())
            ask.keepHardwareAddress(message.address.receiverKey(), outcome.hardwareAddress);
    });
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
    message.standby = InStandby::Refuse;
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
