// A daemon's part in a fleet from its own settings and its command line:
// the gateways it serves and what a try it accepts needs. Stateless.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "dispatch/fleet_role.h"

namespace qz {

// "mail" and the paging gateway [Default] Index of QzNotes.ini names; the
// pager terminal ("0") only when its serial line (ComPort) is set.
std::vector<std::string> ConfiguredServes(const std::string& folder);
// `serves`, when given, replaces what the settings configure. A try needs
// the paging gateway the settings name when it is accepted.
FleetRole MakeFleetRole(const std::string& folder, std::optional<std::vector<std::string>> serves);

}  // namespace qz
