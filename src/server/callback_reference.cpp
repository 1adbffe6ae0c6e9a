#include "server/callback_reference.h"

#include "automation/run_time_error.h"
#include "contract/contract.h"
#include "platform/holders.h"

namespace qz {
namespace {

[[noreturn]] void Refuse() { throw RunTimeError(kErrTypeMismatch, kBoundarySource); }

// The unique name that owns `name` now; nothing when nobody does.
std::optional<std::string> OwnerOf(GDBusConnection* connection, const std::string& name) {
  VariantPtr reply(g_dbus_connection_call_sync(
      connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "GetNameOwner", g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(s)"),
      G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, nullptr));
  if (!reply) return std::nullopt;
  const char* owner = nullptr;
  g_variant_get(reply.get(), "(&s)", &owner);
  return std::string(owner);
}

}  // namespace

std::string VetCallbackReference(GDBusConnection* connection, CallerUids& uids,
                                 const std::string& caller, std::string_view bus_name,
                                 std::string_view path) {
  const std::string name(bus_name), object(path);
  if (!g_variant_is_object_path(object.c_str())) Refuse();
  if (!name.empty() && !g_dbus_is_name(name.c_str())) Refuse();
  if (name.empty() || name == caller || object == "/") return name.empty() ? caller : name;
  if (g_dbus_is_unique_name(name.c_str())) Refuse();
  // A well-known name may change hands later; what counts is who holds it
  // when the request is made.
  std::optional<std::string> owner = OwnerOf(connection, name);
  if (!owner) Refuse();
  if (*owner == caller) return name;
  std::optional<uid_t> theirs = uids.Lookup(*owner), ours = uids.Lookup(caller);
  if (!theirs || !ours || *theirs != *ours) Refuse();
  return name;
}

}  // namespace qz
