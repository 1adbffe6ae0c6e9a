// The reading half of the settings interface (settings_interface.h).
#include <span>
#include <string>
#include <vector>

#include "config/profile_string.h"
#include "config/settings_groups.h"
#include "config/settings_interface.h"
#include "config/settings_path.h"
#include "diagnostics/reraise.h"

namespace qz {
namespace {

enum class SettingsForm { kValue, kKeyAndValue };

Variant ReadGroup(const std::string& file, std::span<const SettingKey> group, SettingsForm form) {
  std::vector<Variant> items;
  items.reserve(group.size());
  std::string value;
  for (const SettingKey& key : group) {
    mblnGetPrivateProfileString(file, key.section, key.key, value);
    if (form == SettingsForm::kKeyAndValue) value.insert(0, std::string(key.key) + "=");
    items.emplace_back(std::move(value));
  }
  return Variant::Array(std::move(items));
}

// Empty, reading nothing, when the group's file is missing.
Variant ReadGroupIfPresent(std::string_view folder, std::string_view file_name,
                           std::span<const SettingKey> group, SettingsForm form) {
  std::string file = SettingsPath(folder, file_name);
  if (!SettingsFileExists(file)) return Variant();
  return ReadGroup(file, group, form);
}

}  // namespace

Variant gvarGetSettings(std::string_view folder) {
  try {
    return ReadGroupIfPresent(folder, kMainSettingsFile,
                              std::span(kPagerTerminalGroup).first(kShortPagerTerminalKeys),
                              SettingsForm::kValue);
  } catch (...) {
    ReRaiseWithSource("cNotify:gvarGetSettings");
  }
}

Variant gvarGetPagerSettings(std::string_view folder, int16_t Request) {
  try {
    std::string file = SettingsPath(folder, kMainSettingsFile);
    if (!SettingsFileExists(file)) return Variant();
    switch (Request) {
      case 0:
        return ReadGroup(file, kPagerTerminalGroup, SettingsForm::kValue);
      case 2:
        return ReadGroup(file, kGatewaysGroup, SettingsForm::kValue);
      case 3:
        return ReadGroup(file, kSmsGroup, SettingsForm::kValue);
      default:
        return Variant::NoDimensions();
    }
  } catch (...) {
    ReRaiseWithSource("cNotify:gvarGetPagerSettings");
  }
}

Variant gvarGetPagerSettingsEx(std::string_view folder, int16_t Request) {
  try {
    switch (Request) {
      case 0:
        return ReadGroupIfPresent(folder, kPagerSettingsFile, kPagerTerminalGroup,
                                  SettingsForm::kKeyAndValue);
      case 1:
        return ReadGroupIfPresent(folder, kSnppSettingsFile, kSnppGroup,
                                  SettingsForm::kKeyAndValue);
      case 2:
        return ReadGroupIfPresent(folder, kMainSettingsFile, kGatewaysGroup, SettingsForm::kValue);
      case 3:
        return ReadGroupIfPresent(folder, kSmsSettingsFile, kSmsGroup, SettingsForm::kKeyAndValue);
      default:
        return Variant::NoDimensions();
    }
  } catch (...) {
    ReRaiseWithSource("cNotify:gvarGetPagerSettingsEx");
  }
}

Variant mvarGetDefaultGateway(std::string_view folder) {
  try {
    std::string file = SettingsPath(folder, kMainSettingsFile);
    if (!SettingsFileExists(file)) return Variant();
    std::string index;
    mblnGetPrivateProfileString(file, kDefaultGatewayKey.section, kDefaultGatewayKey.key, index);
    return Variant(std::move(index));
  } catch (...) {
    ReRaiseWithSource("cNotify: mvarGetDefaultGateway");
  }
}

}  // namespace qz
