// cNotify's settings operations: the object's side of the settings
// interface, which works on the files of the program folder.
#include "config/settings_interface.h"
#include "dispatch/c_notify.h"

namespace qz {
namespace {

// The caller gets false; the daemon's log says why.
bool Reported(const ServerEnvironment& env, std::string_view operation, bool written,
              const Status& why) {
  if (!why.ok() && env.report)
    env.report("settings write " + std::string(operation) + ": " + why.message());
  return written;
}

}  // namespace

Variant cNotify::gvarGetSettings() { return qz::gvarGetSettings(env_.folder); }

bool cNotify::gblnSetSettings(const Variant& lvarSettings) {
  Status why;
  const bool written = qz::gblnSetSettings(env_.folder, lvarSettings, &why);
  return Reported(env_, "gblnSetSettings", written, why);
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
  Status why;
  const bool written = qz::gblnSetPagerSettingsEx(env_.folder, lstrSection, lvarSettings, &why);
  return Reported(env_, "gblnSetPagerSettingsEx", written, why);
}

}  // namespace qz
