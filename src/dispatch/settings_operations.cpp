// cNotify's settings operations: the object's side of the settings
// interface, which works on the files of the program folder.
#include "config/settings_interface.h"
#include "dispatch/c_notify.h"

namespace qz {

Variant cNotify::gvarGetSettings() { return qz::gvarGetSettings(env_.folder); }

bool cNotify::gblnSetSettings(const Variant& lvarSettings) {
  return qz::gblnSetSettings(env_.folder, lvarSettings);
}

Variant cNotify::gvarGetPagerSettings(int16_t Request) {
  return qz::gvarGetPagerSettings(env_.folder, Request);
}

bool cNotify::gblnSetPagerSettings(int16_t lintSection, const Variant& lvarSettings) {
  return qz::gblnSetPagerSettings(env_.folder, lintSection, lvarSettings);
}

Variant cNotify::gvarGetPagerSettingsEx(int16_t Request, Variant&) {
  return qz::gvarGetPagerSettingsEx(env_.folder, Request);
}

bool cNotify::gblnSetPagerSettingsEx(std::string_view lstrSection, const Variant& lvarSettings) {
  return qz::gblnSetPagerSettingsEx(env_.folder, lstrSection, lvarSettings);
}

}  // namespace qz
