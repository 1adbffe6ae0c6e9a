#include "components/allowed_hosts.h"

#include "automation/names.h"
#include "platform/trim.h"

namespace qz {
namespace {

std::string_view WithoutBrackets(std::string_view entry) {
  if (entry.size() > 2 && entry.front() == '[' && entry.back() == ']')
    return entry.substr(1, entry.size() - 2);
  return entry;
}

}  // namespace

bool HostAllowed(std::string_view list, std::string_view host) {
  if (host.empty()) return false;
  for (std::string_view entry : ListEntries(list))
    if (AsciiCaseEqual(WithoutBrackets(entry), host)) return true;
  return false;
}

}  // namespace qz
