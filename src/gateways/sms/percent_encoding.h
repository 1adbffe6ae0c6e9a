// Percent-encoding (RFC 3986) of the bytes that may not go into a URL as
// they are, with upper-case hex digits. Two sets: everything but the
// unreserved characters (a form value), or only what a query string cannot
// carry. Pure functions; safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace qz {

// Every byte but the unreserved characters A-Z a-z 0-9 - . _ ~
std::string PercentEncode(std::string_view text);

// Only blanks, control characters, non-ASCII bytes and " # < > \ ^ ` { | }:
// "&", "=", "%" and "+" stay, so a query built of them keeps its shape.
std::string PercentEncodeQuery(std::string_view text);

}  // namespace qz
