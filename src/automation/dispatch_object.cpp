#include "automation/dispatch_object.h"

#include "automation/run_time_error.h"

namespace qz {

Variant DispatchObject::GetProperty(std::string_view) { throw RunTimeError(kErrNoSuchMember); }
void DispatchObject::SetProperty(std::string_view, const Variant&) {
  throw RunTimeError(kErrNoSuchMember);
}
Variant DispatchObject::CallMethod(std::string_view, std::span<Variant>) {
  throw RunTimeError(kErrNoSuchMember);
}

}  // namespace qz
