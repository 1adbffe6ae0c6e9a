// The SMS settings loader: the fourteen SMS gateway settings of QzNotes.ini
// ("SMS" and "SMSMapping") into the fields of one cNotify object, read
// afresh by every call. Runs on the object's thread.
#pragma once

#include "gateways/delivery_channels.h"
#include "gateways/sms/sms_settings.h"

namespace qz {

// True when all fourteen values were read into the SmsSettings `call.kept`
// holds. Without a regular QzNotes.ini in `call.folder` it answers false,
// reports nothing and leaves the fields alone. A run-time error is reported
// into gstrLastError; fields copied before it keep their new values.
bool mblnInitialiseSMS(const ChannelCall& call);

}  // namespace qz
