// The JSON of the server's HTTP API as qznotes writes and reads it: the body
// of a request built from `qznotes send`, and the answers (problem bodies,
// the status object, a delivery's outcome) turned into what the bus path
// prints from. Pure functions; safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/commands.h"
#include "platform/holders.h"

namespace qz::client {

// POST /v1/requests: groups of messages with the recipients of each message
// in lists parallel to the messages; the mail options only when given.
std::string RequestJson(const SendCommand& send, const std::string& test_id);

// Member `name` of a JSON object text: a string, or a number as text.
std::optional<std::string> JsonText(std::string_view json, const char* name);

// "403 Forbidden: DETAIL (at PATH)" for a refusal's problem body; the bare
// status for any other body.
std::string RefusalText(long status, std::string_view body);

// The status object as the bus answers it (a{sv}): integers as int64,
// objects of counts as a{st}, lists of texts as `as`. Null for no object.
VariantPtr StatusFromJson(std::string_view json);

// One delivery's outcome (an event's data, a request's state).
struct Delivery {
  std::string id;
  std::string test_id;
  std::string outcome;
  std::vector<std::string> details;  // as the Delivered signal words them
};
std::optional<Delivery> DeliveryFromJson(std::string_view json);

}  // namespace qz::client
