#pragma once

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

// Whether every connection made to server before now has been taken and has ended, within the
// deadline. A connection of the test's own goes in behind them: connections are taken in the
// order they came, so once it is taken every earlier one was. After the client has said it is
// done, this is how a test knows that nothing more will arrive. The server's connections must be
// its children, as the receiver's are.
inline bool Settled(QTcpServer &server, int withinMs = 10000)
{
    QTcpSocket fence;
    fence.connectToHost(QHostAddress::LocalHost, server.serverPort());
    if (!fence.waitForConnected(withinMs))
        return false;
    const auto open = [&server, &fence] {
        int others = 0;
        bool fenceTaken = false;
        for (const QTcpSocket *socket : server.findChildren<QTcpSocket *>()) {
            if (socket->peerPort() == fence.localPort())
                fenceTaken = true;
            else if (socket->state() != QAbstractSocket::UnconnectedState)
                ++others;
        }
        return fenceTaken ? others : -1;
    };
    return QTest::qWaitFor([&open] { return open() == 0; }, withinMs);
}
