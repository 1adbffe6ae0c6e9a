// The --help texts of qznotes and of each command. Constant text; safe from
// any thread.
#pragma once

#include <string_view>

namespace qz::client {

// `topic` is "", "send", "settings", "call" or "profiles"; anything else gives the
// general text.
std::string_view HelpText(std::string_view topic);

}  // namespace qz::client
