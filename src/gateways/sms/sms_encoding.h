// The opt-in "Encoding" key of section "SMS" in QzNotes.ini, read apart from
// the fourteen SMS settings and afresh at every SMS channel call. Stateless.
#pragma once

#include <string_view>

#include "gateways/sms/sms_request_text.h"

namespace qz {

// Form when the key reads "form" (any case, blanks around ignored); Seed for
// anything else, a missing key or a missing file. Errors of the settings
// reader pass through.
SmsEncoding SmsEncodingSetting(std::string_view folder);

}  // namespace qz
