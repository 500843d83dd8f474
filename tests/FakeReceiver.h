#pragma once

#include "ReceiverSim.h"

// A receiver on 127.0.0.1 whose next answers a test can script.
class FakeReceiver : public ReceiverSim
{
public:
    FakeReceiver() { listen(QHostAddress::LocalHost, 0); }

    QString address() const { return QStringLiteral("127.0.0.1:") + QString::number(serverPort()); }

    using ReceiverSim::response;

    // Answers for the next requests, in order; an empty one is never answered. Once it is used up
    // the receiver answers as a real one does.
    QList<QByteArray> script;

protected:
    QByteArray answer(const QByteArray &head) override
    {
        return script.isEmpty() ? ReceiverSim::answer(head) : script.takeFirst();
    }
};
