#pragma once

// The relay as the tests run it: in a folder of its own, on this thread, asked over real HTTP.
#include "ReceiverSim.h"
#include "Relay.h"
#include "RelaySettings.h"
#include "RelayStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;

namespace {

// Every text the receiver shows goes into shown, in order.
void collectShown(ReceiverSim &receiver, QStringList &shown)
{
    QObject::connect(
        &receiver,
        &ReceiverSim::boxShown,
        &receiver,
        [&shown](const QString &, const QString &, const QString &text) { shown += text; });
}

struct Answer
{
    int status = 0; // 0: the connection ended with no answer
    QByteArray body;
    bool closed = false; // the relay closed the connection
};

// One raw request, answered or closed within the time given. The relay runs on this thread, so
// the wait runs the event loop.
Answer ask(quint16 port, const QByteArray &request, int within = 5000)
{
    QTcpSocket socket;
    QByteArray raw;
    QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [&] { raw += socket.readAll(); });
    QSignalSpy closed(&socket, &QTcpSocket::disconnected);
    socket.connectToHost(QHostAddress::LocalHost, port);
    Answer answer;
    if (!socket.waitForConnected(within))
        return answer;
    socket.write(request);
    answer.closed = closed.wait(within) || !closed.isEmpty();
    raw += socket.readAll();
    const qsizetype head = raw.indexOf("\r\n\r\n");
    answer.status = raw.startsWith("HTTP/1.") ? raw.mid(9, 3).toInt() : 0;
    answer.body = head < 0 ? QByteArray() : raw.mid(head + 4);
    return answer;
}

QByteArray
request(const QByteArray &line, const QByteArray &headers = {}, const QByteArray &body = {})
{
    return line + " HTTP/1.1\r\nHost: relay\r\nConnection: close\r\n" + headers
           + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QJsonObject object(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

// A relay in a folder of its own, its receivers named in the settings' text (PORT: the first
// simulator's port, PORT2 the second's).
struct Rig
{
    QTemporaryDir dir;
    std::unique_ptr<Relay> relay;
    QStringList log;
    quint16 port = 0;

    ~Rig()
    {
        if (QTest::currentTestFailed()) // what the relay said, to tell why
            qInfo("the relay's log:\n%s", qPrintable(log.join('\n')));
    }

    bool start(const QString &ini)
    {
        auto read = ReadRelaySettings(ini.toUtf8());
        if (const QString *why = std::get_if<QString>(&read)) {
            qWarning("%s", qPrintable(*why));
            return false;
        }
        RelaySettings settings = std::get<RelaySettings>(read);
        settings.listenPort = 0;
        auto store = RelayStore::Open(dir.filePath(settings.store));
        if (!std::holds_alternative<std::unique_ptr<RelayStore>>(store))
            return false;
        Relay::Options options;
        options.sendWithin = 3s;
        options.brokerPause = 200ms;
        options.log = [this](const QString &line) {
            log += line;
        };
        relay = std::make_unique<Relay>(
            settings, std::move(std::get<std::unique_ptr<RelayStore>>(store)), options);
        if (const auto why = relay->start()) {
            qWarning("%s", qPrintable(*why));
            return false;
        }
        port = relay->port();
        return true;
    }

    int count(const QString &start) const
    {
        return int(std::count_if(
            log.cbegin(), log.cend(), [&](const QString &line) { return line.startsWith(start); }));
    }

    // Whether every message is done with: shown, expired, failed or replaced everywhere.
    bool settled() const
    {
        const Answer listed = ask(port, request("GET /v1/messages"));
        for (const QJsonValue message : object(listed.body).value("messages").toArray())
            for (const QJsonValue one : message["receivers"].toArray())
                if (QStringList{"waiting", "held-standby", "held-unreachable", "sending"}.contains(
                        one["state"].toString()))
                    return false;
        return true;
    }

    // Where message id stands for receiver, as the status endpoint says.
    QString state(int id, const QString &receiver = QStringLiteral("living-room")) const
    {
        const Answer status = ask(port, request("GET /v1/messages/" + QByteArray::number(id)));
        for (const QJsonValue one : object(status.body).value("receivers").toArray())
            if (one["receiver"].toString() == receiver)
                return one["state"].toString();
        return {};
    }
};

QString settingsFor(quint16 port, const QString &more = {})
{
    return QStringLiteral(
               "[Relay]\nTimeout=1\nStandbyCheck=1\n%2\n[Receivers]\nliving-room=127.0.0.1:%1\n")
        .arg(port)
        .arg(more);
}

} // namespace
