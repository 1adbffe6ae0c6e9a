// Reads a header of a raw mail as a reader would see it: unfolded. A pure
// function.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace qz::testing {

// The value of header `name` (first occurrence, unfolded), empty when absent.
inline std::string MailHeader(const std::string& mail, std::string_view name) {
  std::string head = "\r\n" + mail.substr(0, mail.find("\r\n\r\n")) + "\r\n";
  for (size_t fold; (fold = std::min(head.find("\r\n "), head.find("\r\n\t"))) != head.npos;)
    head.erase(fold, 2);
  const std::string key = "\r\n" + std::string(name) + ":";
  const size_t at = head.find(key);
  if (at == std::string::npos) return {};
  const size_t start = head.find_first_not_of(' ', at + key.size());
  return head.substr(start, head.find("\r\n", start) - start);
}

}  // namespace qz::testing
