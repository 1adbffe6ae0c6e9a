// The SMS gateway channel: every number of every message of one group goes
// as one form-encoded request through one gateway request component, whose
// answer must contain the configured response text. Runs on the calling
// object's thread, which waits for each request.
#pragma once

#include "automation/variant.h"
#include "gateways/delivery_channels.h"

namespace qz {

// True when every number was confirmed (gstrLastError empty at the end).
// Uses the SMS fields kept in `call.kept` as they stand and the "Encoding" key of
// QzNotes.ini. An unconfirmed number leaves "SMS to <number> is undelivered.
// <answer>" and the rest are still tried; a run-time error is reported and
// stops the group. The component is created by its class identifier.
bool mblnPagingEx(const ChannelCall& call, const Variant& lvarNotes, const Variant& lvarPager);

}  // namespace qz
