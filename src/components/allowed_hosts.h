// The rule that keeps a system-bus server from posting callbacks to any
// address a client names: only hosts listed in [Callback] AllowedHosts of
// QzNotes.ini are reached. Pure functions over the setting's text; safe from
// any thread.
#pragma once

#include <string_view>

namespace qz {

inline constexpr std::string_view kCallbackSection = "Callback";
inline constexpr std::string_view kAllowedHostsKey = "AllowedHosts";

// True when `host` (as CallbackTarget::host gives it) is one of the names in
// `list`, separated by commas and/or blanks, ignoring ASCII case. Brackets
// around an IPv6 entry are optional. An empty list allows nothing.
bool HostAllowed(std::string_view list, std::string_view host);

}  // namespace qz
