// Builds the four request arrays of a notification request from the parsed
// `qznotes send` command, as the `v` values the request calls take. Pure
// functions; safe from any thread.
#pragma once

#include "client/commands.h"
#include "platform/holders.h"

namespace qz::client {

struct RequestArrays {
  VariantPtr notes;  // groups of message texts
  VariantPtr email;  // per group, per message, the addresses
  VariantPtr pager;  // per group, per message, the pager numbers
  VariantPtr any;    // mail options; Empty when none was given, so no mail goes out
};

RequestArrays BuildRequestArrays(const SendCommand& send);

}  // namespace qz::client
