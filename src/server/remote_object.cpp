#include "server/remote_object.h"

#include "automation/run_time_error.h"
#include "server/wire_variant.h"

namespace qz {

RemoteObject::RemoteObject(GDBusConnection* connection, std::string bus_name, std::string path)
    : connection_(G_DBUS_CONNECTION(g_object_ref(connection))),
      bus_name_(std::move(bus_name)),
      path_(std::move(path)) {}

RemoteObject::~RemoteObject() { g_object_unref(connection_); }

Variant RemoteObject::CallMethod(std::string_view name, std::span<Variant> args) {
  std::string method(name);
  if (!g_dbus_is_member_name(method.c_str())) throw RunTimeError(kErrNoSuchMember);
  GDBusMessage* message = g_dbus_message_new_method_call(bus_name_.c_str(), path_.c_str(),
                                                         kCallbackInterface, method.c_str());
  GVariantBuilder body;
  g_variant_builder_init(&body, G_VARIANT_TYPE_TUPLE);
  for (const Variant& arg : args) g_variant_builder_add_value(&body, ToWire(arg));
  g_dbus_message_set_body(message, g_variant_builder_end(&body));
  g_dbus_message_set_flags(message, static_cast<GDBusMessageFlags>(
                                        G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED |
                                        G_DBUS_MESSAGE_FLAGS_NO_AUTO_START));
  GError* error = nullptr;
  gboolean sent = g_dbus_connection_send_message(connection_, message, G_DBUS_SEND_MESSAGE_FLAGS_NONE,
                                                 nullptr, &error);
  g_object_unref(message);
  if (!sent) {
    std::string text = error->message;
    g_error_free(error);
    throw RunTimeError(kErrInternal, text, kBoundarySource);
  }
  return {};
}

}  // namespace qz
