#pragma once

#include "HttpExchange.h"
#include "Transfer.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

// Receivers known to take the second-generation message call, by address as typed, each with the
// session id it handed out (empty when it has no sessions). Kept in memory only.
using SecondGenerationReceivers = QHash<QString, QString>;

// Everything one press of Send says to the receiver. First the first-generation message request;
// a receiver that lacks it (HTTP 404) is asked through the second-generation call instead, with a
// session when it hands one out. The whole dialogue shares one time-out and ends in one outcome.
class ReceiverDialogue : public QObject
{
    Q_OBJECT

public:
    using Done = Transfer::Done;
    // Told each request line and each answer's status line, for whoever wants to see them.
    using Trace = std::function<void(const QString &line)>;

    // known must outlive the dialogue.
    ReceiverDialogue(const Message &message,
                     SecondGenerationReceivers &known,
                     std::chrono::milliseconds timeout,
                     QObject *parent = nullptr);

    // Sends, once. done may come before this returns, when the address is not one a message can
    // go to; destroying the dialogue before then abandons it and done is not called.
    void start(Done done);

    void setTrace(Trace trace) { m_trace = std::move(trace); }

private:
    using Next = void (ReceiverDialogue::*)(const HttpAnswer &);

    void
    send(const QByteArray &method, const QByteArray &target, const QByteArray &form, Next next);
    void sendFirstGeneration();
    void judgeFirstGeneration(const HttpAnswer &answer);
    void askForSession();
    void takeSession(const HttpAnswer &answer);
    void postMessage();
    void judgeSecondGeneration(const HttpAnswer &answer);
    void finish(const QString &failure);
    bool isLongRequest() const;
    void trace(const QString &line) const;

    Message m_message;
    SecondGenerationReceivers &m_known;
    std::chrono::milliseconds m_timeout;
    Done m_done;
    Trace m_trace;
    HttpRequest m_first;           // the first-generation request, and where every request goes
    QString m_session;             // the second-generation session id, if any
    bool m_remembered = false;     // the receiver was known to take the second-generation call
    bool m_sessionRenewed = false; // a refused session was replaced once already
    HttpExchange *m_exchange = nullptr;
    QTimer m_timer;
};
