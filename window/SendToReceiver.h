#pragma once

#include "Transfer.h"

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

// What a send asks of the window when it can't go on alone.
struct SendQuestions
{
    // Shows why the message was not delivered.
    std::function<void(const QString &text)> report;
    // Asks whether to trust a receiver's certificate that nothing vouches for; true once the
    // user has trusted it, and the same request then goes over a trusted connection.
    std::function<bool(const UntrustedCertificate &certificate)> trust;
    // Asks what to do with the message for a receiver that said it is in standby (Wake, Go to
    // send anyway, or Cancel), or at which nothing answers (Wake or Cancel).
    std::function<DialogueRules::Choice(DialogueRules::Pause pause)> standby;
    // The hardware address kept for a receiver (by its trust key), and keeping a new one.
    std::function<QString(const QString &receiverKey)> keptHardwareAddress;
    std::function<void(const QString &receiverKey, const QString &hardwareAddress)>
        keepHardwareAddress;
};

// Sends the message the fields describe, once. When the receiver takes it, the body as it was
// sent is added to the session log; when it doesn't, the user is told why. Where the user must
// decide (a certificate, standby, a receiver that does not answer), the send waits for the
// answer and goes on from there; one the user cancelled is neither logged nor reported.
void SendToReceiver(const MessageFields &fields, InetOnDemand &inet, const SendQuestions &ask);

// Adds a body to the log: alone on an empty log, otherwise on a new line after what is there.
void AppendToSessionLog(QPlainTextEdit *log, const QString &body);
