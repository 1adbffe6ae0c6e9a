#include "server/bus_names.h"

#include "platform/holders.h"

namespace qz {
namespace {

VariantPtr AskBus(GDBusConnection* connection, const char* method, const std::string& name,
                  const char* reply_type) {
  return VariantPtr(g_dbus_connection_call_sync(
      connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method,
      g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE(reply_type), G_DBUS_CALL_FLAGS_NONE,
      kBusQuestionTimeoutMs, nullptr, nullptr));
}

}  // namespace

std::optional<std::string> NameOwner(GDBusConnection* connection, const std::string& name) {
  VariantPtr reply = AskBus(connection, "GetNameOwner", name, "(s)");
  if (!reply) return std::nullopt;
  const char* owner = nullptr;
  g_variant_get(reply.get(), "(&s)", &owner);
  return std::string(owner);
}

std::optional<uint32_t> NameUser(GDBusConnection* connection, const std::string& name) {
  VariantPtr reply = AskBus(connection, "GetConnectionUnixUser", name, "(u)");
  if (!reply) return std::nullopt;
  guint32 uid = 0;
  g_variant_get(reply.get(), "(u)", &uid);
  return uid;
}

}  // namespace qz
