#pragma once

#include "ReceiverSim.h"
#include "Settled.h"

#include <QTcpSocket>
#include <QTimer>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
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
        ResetLater,  // resets the connection once the client has had time to read the bytes
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
    // Sends what was written, then a reset rather than an orderly close.
    static void reset(QTcpSocket *socket)
    {
        socket->flush();
        const linger now{1, 0};
#ifdef Q_OS_WIN
        ::setsockopt(static_cast<SOCKET>(socket->socketDescriptor()),
                     SOL_SOCKET,
                     SO_LINGER,
                     reinterpret_cast<const char *>(&now),
                     sizeof now);
#else
        ::setsockopt(
            static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
#endif
        socket->abort();
    }

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
            reset(socket);
            break;
        case Then::ResetLater:
            socket->flush();
            QTimer::singleShot(300, socket, [socket] { reset(socket); });
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
