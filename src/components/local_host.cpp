#include "components/local_host.h"

#include <glib.h>

#include <array>

#include "automation/names.h"

namespace qz {

bool IsLocalHost(std::string_view host, std::string_view machine_name) {
  static constexpr std::array<std::string_view, 4> kLoopbackNames = {"", "localhost", "127.0.0.1",
                                                                     "::1"};
  for (std::string_view name : kLoopbackNames) {
    if (AsciiCaseEqual(host, name)) return true;
  }
  return !machine_name.empty() && AsciiCaseEqual(host, machine_name);
}

bool IsLocalHost(std::string_view host) { return IsLocalHost(host, g_get_host_name()); }

}  // namespace qz
