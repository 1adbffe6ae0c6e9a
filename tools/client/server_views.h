// How qznotes prints what the server reports, whichever way it came (the bus
// or the HTTP API): the status view and one delivery's outcome. Pure
// formatting; main thread only, as the console.
#pragma once

#include <glib.h>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace qz::client {

// The server's status (a{sv}) for people, or as one JSON object.
void PrintStatus(GVariant* status, bool json, std::ostream& out);
// Its fleet part for people: each daemon and the tries nobody can claim;
// nothing when the server runs alone.
void PrintFleet(GVariant* status, std::ostream& out);

// One delivery as `watch` prints it: "ID: OUTCOME" and a line per detail,
// or one JSON object {"testId","outcome","details"}; ends with a line break.
std::string DeliveryText(bool json, std::string_view test_id, std::string_view outcome,
                         const std::vector<std::string>& details);

}  // namespace qz::client
