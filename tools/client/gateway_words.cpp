#include "client/gateway_words.h"

#include <vector>

namespace qz::client {

std::string GatewaysOr(const std::function<std::string(const PagingGateway&)>& word,
                       const std::function<bool(const PagingGateway&)>& which) {
  std::vector<std::string> words;
  for (const PagingGateway& gateway : BuiltInGateways().paging) {
    if (!which || which(gateway)) words.push_back(word(gateway));
  }
  std::string text;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0) text += i + 1 == words.size() ? " or " : ", ";
    text += words[i];
  }
  return text;
}

bool IsGatewayNumber(std::string_view text) {
  for (const PagingGateway& gateway : BuiltInGateways().paging) {
    if (text == std::to_string(gateway.number)) return true;
  }
  return false;
}

}  // namespace qz::client
