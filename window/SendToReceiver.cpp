#include "SendToReceiver.h"
#include "InetOnDemand.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace {

void send(const Message &message, QPlainTextEdit *log, InetOnDemand &inet, const SendQuestions &ask)
{
    inet.Send(message, log, [message, log, &inet, ask](const SendOutcome &outcome) {
        if (outcome.untrusted) {
            if (ask.trust(*outcome.untrusted))
                send(message, log, inet, ask);
            return;
        }
        if (outcome.failure.isEmpty())
            AppendToSessionLog(log, message.body);
        else
            ask.report(QCoreApplication::translate("SendToReceiver", "Message not delivered: ")
                       + outcome.failure);
    });
}

} // namespace

void SendToReceiver(const MessageFields &fields, InetOnDemand &inet, const SendQuestions &ask)
{
    Message message;
    message.address = fields.Text1->text();
    message.timeout = fields.Text3->text();
    message.caption = fields.Text4->text();
    message.body = fields.Text2->text();
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
