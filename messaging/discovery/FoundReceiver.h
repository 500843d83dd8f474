#pragma once

#include <QString>

// A receiver found on the local network.
struct FoundReceiver
{
    QString name;    // as it announces itself
    QString address; // to type: host[:port], or https://host[:port] where only HTTPS is offered
    QString kind;    // what answers there: "openwebif", "maker" or "unconfirmed", one word
};
