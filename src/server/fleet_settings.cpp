#include "server/fleet_settings.h"

#include "config/profile_string.h"
#include "config/settings_groups.h"
#include "config/settings_interface.h"
#include "config/settings_path.h"

namespace qz {
namespace {

// The paging gateway's number as text; empty when it cannot be read.
std::string PagingGatewayText(const std::string& folder) {
  try {
    const Variant number = mvarGetDefaultGateway(folder);
    if (number.IsEmpty()) return {};
    const double value = number.ToNumber();
    if (value != 0 && value != 1 && value != 2) return {};
    return std::to_string(static_cast<int>(value));
  } catch (...) {
    return {};
  }
}

}  // namespace

std::vector<std::string> ConfiguredServes(const std::string& folder) {
  std::vector<std::string> serves = {"mail"};
  const std::string paging = PagingGatewayText(folder);
  if (paging == "0") {
    std::string line;
    try {
      mblnGetPrivateProfileString(SettingsPath(folder, kMainSettingsFile), "Pager Terminal",
                                  "ComPort", line);
    } catch (...) {
      line.clear();
    }
    if (line.empty()) return serves;
  }
  if (!paging.empty()) serves.push_back(paging);
  return serves;
}

FleetRole MakeFleetRole(const std::string& folder, std::optional<std::vector<std::string>> serves) {
  FleetRole role;
  role.serves = serves ? std::move(*serves) : ConfiguredServes(folder);
  role.needs = [folder](const RequestRecord& record) {
    return TryNeeds(record, PagingGatewayText(folder));
  };
  return role;
}

}  // namespace qz
