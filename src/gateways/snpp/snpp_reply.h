// Which server reply a received block holds. The exact mode looks for the
// four fixed texts as case-sensitive substrings, in a fixed order, and only
// the first found counts; the RFC 1861 mode reads the three-digit code of
// one reply line. Pure functions; safe from any thread.
#pragma once

#include <optional>
#include <string_view>

#include "gateways/delivery_parts.h"

namespace qz {

enum class ExactReply { kNone, kGreeting, kPagerAccepted, kMessageOk, kMessageSent };

inline constexpr std::string_view kSnppGreeting = "220 SNPP Gateway Ready";
inline constexpr std::string_view kSnppPagerAccepted = "250 Pager ID Accepted";
inline constexpr std::string_view kSnppMessageOk = "250 Message OK";
inline constexpr std::string_view kSnppMessageSent = "250 Message Sent OK";

ExactReply MatchExactReply(std::string_view block);

// The reply code at the start of an RFC 1861 reply line ("250 ..."), or
// nothing when the line does not start with three digits.
std::optional<int> ReplyCode(std::string_view line);

// How an RFC 1861 failure reply is sorted: 5xx will be refused again, the
// rest (4xx: try later) may go another time.
FailureKind SnppReplyKind(int code);

}  // namespace qz
