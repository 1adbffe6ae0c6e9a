// The writing half of the settings interface (settings_interface.h).
#include <optional>
#include <string>

#include "automation/run_time_error.h"
#include "config/path_confinement.h"
#include "config/profile_string.h"
#include "config/reraise.h"
#include "config/settings_groups.h"
#include "config/settings_interface.h"
#include "config/settings_path.h"

namespace qz {

bool gblnSetSettings(std::string_view folder, const Variant& lvarSettings) {
  try {
    if (!lvarSettings.IsArray()) return false;
    std::string file = SettingsPath(folder, kMainSettingsFile);
    if (!SettingsFileExists(file)) return false;
    for (size_t k = 0; k < kShortPagerTerminalKeys; ++k) {
      const SettingKey& key = kPagerTerminalGroup[k];
      if (!mblnWritePrivateProfileString(file, key.section, key.key,
                                         lvarSettings.At(static_cast<int64_t>(k)).Text()))
        return false;
    }
    return true;
  } catch (...) {
    ReRaiseWithSource("cNotify:gblnSetSettings");
  }
}

bool gblnSetPagerSettings(std::string_view, int16_t, const Variant&) { return false; }

bool gblnSetPagerSettingsEx(std::string_view folder, std::string_view lstrSection,
                            const Variant& lvarSettings) {
  try {
    if (!lvarSettings.IsArray()) return false;
    std::string target = SettingsPath(folder, kMainSettingsFile);
    if (lstrSection != kDefaultSection) {
      std::string relative;
      mblnGetPrivateProfileString(target, lstrSection, kPathKey, relative);
      std::optional<std::string> confined = ConfinedSettingsPath(folder, relative);
      if (!confined) return false;
      target = std::move(*confined);
    }
    if (!SettingsFileExists(target)) return false;
    const int16_t upper = Variant(lvarSettings.UBound()).ToInt16();
    for (int32_t i = 0; i <= upper; ++i) {
      std::string element = lvarSettings.At(i).Text();
      size_t equals = element.find('=');
      if (equals == element.npos) throw RunTimeError(kErrSubscript);
      // All after the first "=" is the value, so values holding "=" survive.
      std::string_view text(element);
      if (!mblnWritePrivateProfileString(target, lstrSection, text.substr(0, equals),
                                         text.substr(equals + 1)))
        return false;
    }
    return true;
  } catch (...) {
    ReRaiseWithSource("cNotify:gblnSetPagerSettingsEx");
  }
}

}  // namespace qz
