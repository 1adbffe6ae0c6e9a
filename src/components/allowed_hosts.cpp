#include "components/allowed_hosts.h"

#include "automation/names.h"

namespace qz {
namespace {

constexpr std::string_view kSeparators = ", \t";

std::string_view WithoutBrackets(std::string_view entry) {
  if (entry.size() > 2 && entry.front() == '[' && entry.back() == ']')
    return entry.substr(1, entry.size() - 2);
  return entry;
}

}  // namespace

bool HostAllowed(std::string_view list, std::string_view host) {
  if (host.empty()) return false;
  size_t pos = 0;
  while ((pos = list.find_first_not_of(kSeparators, pos)) != std::string_view::npos) {
    size_t end = list.find_first_of(kSeparators, pos);
    if (end == std::string_view::npos) end = list.size();
    if (AsciiCaseEqual(WithoutBrackets(list.substr(pos, end - pos)), host)) return true;
    pos = end;
  }
  return false;
}

}  // namespace qz
