#include "server/callback_reference.h"

#include "automation/run_time_error.h"
#include "contract/contract.h"
#include "server/bus_names.h"

namespace qz {
namespace {

[[noreturn]] void RefuseCallbackReference() {
  throw RunTimeError(kErrTypeMismatch, kBoundarySource);
}

}  // namespace

BusReference VetCallbackReference(GDBusConnection* connection, CallerUids& uids,
                                  const std::string& caller, std::string_view bus_name,
                                  std::string_view path) {
  const std::string name(bus_name), object(path);
  if (!g_variant_is_object_path(object.c_str())) RefuseCallbackReference();
  if (!name.empty() && !g_dbus_is_name(name.c_str())) RefuseCallbackReference();
  if (name.empty() || name == caller || object == "/")
    return {name.empty() ? caller : name, object, std::nullopt};
  if (g_dbus_is_unique_name(name.c_str())) RefuseCallbackReference();
  // A well-known name may change hands later (or while the server is down
  // and the request waits in the journal): the caller's user goes with it.
  std::optional<std::string> owner = NameOwner(connection, name);
  if (!owner) RefuseCallbackReference();
  std::optional<uid_t> ours = uids.Lookup(caller);
  if (!ours) RefuseCallbackReference();
  if (*owner != caller) {
    std::optional<uid_t> theirs = uids.Lookup(*owner);
    if (!theirs || *theirs != *ours) RefuseCallbackReference();
  }
  return {name, object, static_cast<uint32_t>(*ours)};
}

}  // namespace qz
