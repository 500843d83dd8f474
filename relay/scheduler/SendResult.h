#pragma once

#include "Message.h"
#include "RelayRules.h"

// How a send through the receiver's dialogue ended, as the relay's rules see it. Only where the
// message itself never went out may it go again: a receiver that took the request and then fell
// silent may be showing it.
RelayRules::Outcome SendResult(const SendOutcome &outcome);
