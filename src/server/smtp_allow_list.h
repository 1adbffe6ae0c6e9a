// The SMTP servers an outsider's request may name, so that a caller on the
// system bus cannot have the daemon connect wherever it likes: those listed
// in [Mail] AllowedServers of QzNotes.ini, or where that is absent or empty,
// those the mail profiles' transports name. Read afresh at every request.
// Safe from any thread.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automation/variant.h"

namespace qz {

class RegistryStore;

inline constexpr std::string_view kMailSection = "Mail";
inline constexpr std::string_view kAllowedServersKey = "AllowedServers";

// The entries of a list separated by commas and/or blanks.
std::vector<std::string> SplitServerList(std::string_view list);

// True when `server` (host, host:port or URL, as a request names it) is the
// host and port of one of `allowed`, each read the same way: a host alone is
// port 25, an smtps:// URL without a port 465. Host names ignore ASCII case;
// a name that is no server matches nothing.
bool SmtpServerAllowed(std::span<const std::string> allowed, std::string_view server);

// The SMTP server a request's mail options (`lvarAny`) name, when any.
std::optional<std::string> RequestedSmtpServer(const Variant& lvarAny);

// The servers allowed now for the daemon serving `folder`; `store` may be
// null (no profiles).
std::vector<std::string> AllowedSmtpServers(std::string_view folder, RegistryStore* store);

// Why a request with the mail options `lvarAny` may not be taken from an
// outsider (it names a server not allowed now), or nothing.
std::optional<std::string> SmtpServerRefusal(const Variant& lvarAny, std::string_view folder,
                                             RegistryStore* store);

}  // namespace qz
