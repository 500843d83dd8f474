#pragma once

#include <QString>

#include <functional>

class InetOnDemand;
class QLineEdit;
class QPlainTextEdit;

// The window's fields that a send reads, and the session log it writes.
struct MessageFields
{
    const QLineEdit *Text1; // receiver address
    const QLineEdit *Text3; // timeout shown with the message
    const QLineEdit *Text4; // caption
    const QLineEdit *Text2; // body
    QPlainTextEdit *Text5;  // session log
};

// Sends the message the fields describe. When the receiver takes it, the body as it was sent is
// added to the session log; when it doesn't, report gets the text to show the user.
void SendToReceiver(const MessageFields &fields,
                    InetOnDemand &inet,
                    const std::function<void(const QString &)> &report);

// Adds a body to the log: alone on an empty log, otherwise on a new line after what is there.
void AppendToSessionLog(QPlainTextEdit *log, const QString &body);
