// The profile (MAPI) e-mail channel: one cEmail session per group, signed
// on with the request's profile on the host form's mail controls; message k
// goes as one mail to list k (entry 0 To, the others Cc). Runs on the calling
// object's thread; sign-on and sending block it.
#pragma once

#include "automation/variant.h"
#include "gateways/delivery_channels.h"

namespace qz {

// True when gstrLastError is empty at the end. Failures inside cEmail are
// recorded there by the reporter and the next message is still tried; a
// failure of the channel itself stops the group and answers false.
bool mblnSendMail(const ChannelCall& call, const Variant& lvarNotes, const Variant& lvarEmail);

}  // namespace qz
