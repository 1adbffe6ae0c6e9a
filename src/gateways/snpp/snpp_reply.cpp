#include "gateways/snpp/snpp_reply.h"

#include <array>
#include <utility>

namespace qz {

ExactReply MatchExactReply(std::string_view block) {
  static constexpr std::array<std::pair<std::string_view, ExactReply>, 4> kInOrder = {{
      {kSnppGreeting, ExactReply::kGreeting},
      {kSnppPagerAccepted, ExactReply::kPagerAccepted},
      {kSnppMessageOk, ExactReply::kMessageOk},
      {kSnppMessageSent, ExactReply::kMessageSent},
  }};
  for (const auto& [text, reply] : kInOrder)
    if (block.find(text) != std::string_view::npos) return reply;
  return ExactReply::kNone;
}

std::optional<int> ReplyCode(std::string_view line) {
  if (line.size() < 3) return std::nullopt;
  int code = 0;
  for (size_t i = 0; i < 3; ++i) {
    if (line[i] < '0' || line[i] > '9') return std::nullopt;
    code = code * 10 + (line[i] - '0');
  }
  if (line.size() > 3 && line[3] != ' ' && line[3] != '-' && line[3] != '\r' && line[3] != '\n')
    return std::nullopt;
  return code;
}

FailureKind SnppReplyKind(int code) {
  return code >= 500 && code <= 599 ? FailureKind::kPermanent : FailureKind::kTransient;
}

}  // namespace qz
