#include "server/caller_identity.h"

#include "platform/holders.h"

namespace qz {
namespace {

constexpr int kBusTimeoutMs = 10000;

std::string Credential(GVariant* credentials, const char* key) {
  guint32 value = 0;
  if (credentials && g_variant_lookup(credentials, key, "u", &value)) return std::to_string(value);
  return "?";
}

}  // namespace

std::string CallerIdentityText(GDBusConnection* connection, const std::string& name) {
  if (name.empty()) return "uid ? pid ? name ? (peer-to-peer)";
  VariantPtr reply(g_dbus_connection_call_sync(
      connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "GetConnectionCredentials", g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(a{sv})"),
      G_DBUS_CALL_FLAGS_NONE, kBusTimeoutMs, nullptr, nullptr));
  VariantPtr credentials(reply ? g_variant_get_child_value(reply.get(), 0) : nullptr);
  return "uid " + Credential(credentials.get(), "UnixUserID") + " pid " +
         Credential(credentials.get(), "ProcessID") + " name " + name;
}

}  // namespace qz
