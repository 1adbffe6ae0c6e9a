// cNotify's listing of the messaging profiles, through a cRegistry object.
#include "automation/run_time_error.h"
#include "diagnostics/error_reporter.h"
#include "diagnostics/error_sources.h"
#include "dispatch/c_notify.h"
#include "gateways/mail/c_registry.h"
#include "gateways/mail/mail_profile.h"

namespace qz {

Variant cNotify::GetMessageProfiles() {
  Variant result;
  try {
    if (!env_.registry) throw RunTimeError(kErrObjectNotSet, kServerSource);
    cRegistry registry(*env_.registry);
    registry.Key(static_cast<int32_t>(kHkeyCurrentUser));
    registry.SubKey(kMessageProfilesKey);
    Variant names = registry.gvarEnumerateProfiles();
    if (!names.IsEmpty() && names.IsArray()) result = std::move(names);
  } catch (...) {
    gsubDisplayError(kServerSource, "GetMessageProfiles");
  }
  return result;
}

}  // namespace qz
