// Turns the host a request names for its callback into the URL the HTTP
// callback posts to: a host or host:port gets "http://" and the path
// "/qzcallback"; a full http or https URL is taken as it stands (the path
// "/qzcallback" when it has none). Pure functions; safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qz {

inline constexpr std::string_view kDefaultCallbackPath = "/qzcallback";

struct CallbackTarget {
  std::string url;   // what is posted to
  std::string host;  // host part, lower case, IPv6 without brackets
};

// nullopt for text that is no http(s) URL once completed: another scheme,
// user credentials, blanks or control characters, a missing host.
std::optional<CallbackTarget> ParseCallbackTarget(std::string_view host);

}  // namespace qz
