#pragma once

#include "ReceiverSim.h"

#include <QTcpSocket>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

// A receiver on 127.0.0.1 whose next answers a test can script, misbehaviour included.
class FakeReceiver : public ReceiverSim
{
public:
    // What the receiver does after writing an answer's bytes.
    enum class Then {
        Close,       // closes the connection (an empty answer: leaves it open, never answering)
        Reset,       // resets the connection
        EndlessData, // goes on writing the same filler until the client gives up
    };

    struct Answer
    {
        Answer(QByteArray bytes, Then then = Then::Close)
            : bytes(std::move(bytes))
            , then(then)
        {}
        QByteArray bytes;
        Then then;
    };

    explicit FakeReceiver(Firmware firmware = Firmware::First)
        : ReceiverSim(firmware)
    {
        listen(QHostAddress::LocalHost, 0);
    }

    QString address() const { return QStringLiteral("127.0.0.1:") + QString::number(serverPort()); }

    using ReceiverSim::response;

    // Answers for the next requests, in order. Once it is used up the receiver answers as a real
    // one does.
    QList<Answer> script;

protected:
    void reply(QTcpSocket *socket, const QByteArray &request) override
    {
        if (script.isEmpty())
            return ReceiverSim::reply(socket, request);
        const Answer next = script.takeFirst();
        socket->write(next.bytes);
        switch (next.then) {
        case Then::Close:
            if (!next.bytes.isEmpty())
                socket->disconnectFromHost();
            break;
        case Then::Reset:
#ifdef Q_OS_UNIX
            socket->flush();
            {
                const linger now{1, 0};
                ::setsockopt(static_cast<int>(socket->socketDescriptor()),
                             SOL_SOCKET,
                             SO_LINGER,
                             &now,
                             sizeof now);
            }
#endif
            socket->abort();
            break;
        case Then::EndlessData:
            // Bounded all the same, so that a client that never stops reading fails a test
            // instead of filling the machine.
            connect(
                socket, &QTcpSocket::bytesWritten, socket, [socket, sent = qint64(0)]() mutable {
                    if (socket->bytesToWrite() < 64 * 1024 && sent < qint64(1) << 30) {
                        socket->write(QByteArray(64 * 1024, 'x'));
                        sent += 64 * 1024;
                    }
                });
            socket->write(QByteArray(64 * 1024, 'x'));
            break;
        }
    }
};
