// The writing half of the settings interface (settings_interface.h).
#include <optional>
#include <string>

#include "automation/run_time_error.h"
#include "config/path_confinement.h"
#include "config/profile_string.h"
#include "config/settings_groups.h"
#include "config/settings_interface.h"
#include "config/settings_path.h"
#include "diagnostics/reraise.h"

namespace qz {

// Every write goes to a file resolved once in the program folder and then
// written through that resolution, so no link swapped in meanwhile can turn
// the write elsewhere. A file that can't be resolved so counts as missing.

bool gblnSetSettings(std::string_view folder, const Variant& lvarSettings, Status* why) {
  try {
    if (!lvarSettings.IsArray()) return false;
    std::optional<FolderEntry> file = ConfinedSettingsFile(folder, kMainSettingsFile);
    if (!file || !ConfinedFileExists(*file)) return false;
    for (size_t k = 0; k < kShortPagerTerminalKeys; ++k) {
      const SettingKey& key = kPagerTerminalGroup[k];
      if (!mblnWritePrivateProfileString(*file, key.section, key.key,
                                         lvarSettings.At(static_cast<int64_t>(k)).Text(), why))
        return false;
    }
    return true;
  } catch (...) {
    ReRaiseWithSource("cNotify:gblnSetSettings");
  }
}

bool gblnSetPagerSettings(std::string_view, int16_t, const Variant&) { return false; }

bool gblnSetPagerSettingsEx(std::string_view folder, std::string_view lstrSection,
                            const Variant& lvarSettings, Status* why) {
  try {
    if (!lvarSettings.IsArray()) return false;
    std::string relative(kMainSettingsFile);
    if (lstrSection != kDefaultSection) {
      mblnGetPrivateProfileString(SettingsPath(folder, kMainSettingsFile), lstrSection, kPathKey,
                                  relative);
    }
    std::optional<FolderEntry> target = ConfinedSettingsFile(folder, relative);
    if (!target || !ConfinedFileExists(*target)) return false;
    const int16_t upper = Variant(lvarSettings.UBound()).ToInt16();
    for (int32_t i = 0; i <= upper; ++i) {
      std::string element = lvarSettings.At(i).Text();
      size_t equals = element.find('=');
      if (equals == element.npos) throw RunTimeError(kErrSubscript);
      // All after the first "=" is the value, so values holding "=" survive.
      std::string_view text(element);
      if (!mblnWritePrivateProfileString(*target, lstrSection, text.substr(0, equals),
                                         text.substr(equals + 1), why))
        return false;
    }
    return true;
  } catch (...) {
    ReRaiseWithSource("cNotify:gblnSetPagerSettingsEx");
  }
}

}  // namespace qz
