#include "SendToReceiver.h"
#include "InetOnDemand.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>

void SendToReceiver(const MessageFields &fields,
                    InetOnDemand &inet,
                    const std::function<void(const QString &)> &report)
{
    const Message message{
        fields.Text1->text(), fields.Text3->text(), fields.Text4->text(), fields.Text2->text()};
    QPlainTextEdit *log = fields.Text5;
    inet.Send(message, log, [log, body = message.body, report](const QString &failure) {
        if (failure.isEmpty())
            AppendToSessionLog(log, body);
        else
            report(QCoreApplication::translate("SendToReceiver", "Message not delivered: ")
                   + failure);
    });
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
