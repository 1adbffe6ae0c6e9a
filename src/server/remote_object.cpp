#include "server/remote_object.h"

#include "automation/run_time_error.h"
#include "platform/holders.h"
#include "server/bus_names.h"
#include "server/wire_variant.h"

namespace qz {

RemoteObject::RemoteObject(GDBusConnection* connection, std::string bus_name, std::string path,
                           std::optional<uint32_t> owner_uid)
    : connection_(Ref(connection)),
      bus_name_(std::move(bus_name)),
      path_(std::move(path)),
      owner_uid_(owner_uid) {}

std::string RemoteObject::Destination() const {
  if (!owner_uid_) return bus_name_;
  std::optional<std::string> owner = NameOwner(connection_.get(), bus_name_);
  std::optional<uint32_t> uid = owner ? NameUser(connection_.get(), *owner) : std::nullopt;
  if (!uid || *uid != *owner_uid_)
    throw RunTimeError(kErrInternal,
                       bus_name_ + " is not held by user " + std::to_string(*owner_uid_),
                       kBoundarySource);
  return *owner;
}

Variant RemoteObject::CallMethod(std::string_view name, std::span<Variant> args) {
  std::string method(name);
  if (!g_dbus_is_member_name(method.c_str())) throw RunTimeError(kErrNoSuchMember);
  // GDBus answers null for a name or path that is not valid on the bus.
  const std::string destination = Destination();
  MessagePtr message(g_dbus_message_new_method_call(destination.c_str(), path_.c_str(),
                                                    kCallbackInterface, method.c_str()));
  if (!message) throw RunTimeError(kErrInternal, "invalid callback reference", kBoundarySource);
  GVariantBuilder body;
  g_variant_builder_init(&body, G_VARIANT_TYPE_TUPLE);
  for (const Variant& arg : args) g_variant_builder_add_value(&body, ToWire(arg));
  g_dbus_message_set_body(message.get(), g_variant_builder_end(&body));
  g_dbus_message_set_flags(message.get(),
                           static_cast<GDBusMessageFlags>(G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED |
                                                          G_DBUS_MESSAGE_FLAGS_NO_AUTO_START));
  ErrorPtr error;
  if (!g_dbus_connection_send_message(connection_.get(), message.get(),
                                      G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, ErrorSlot(error)))
    throw RunTimeError(kErrInternal, ErrorText(error, "cannot send the callback"), kBoundarySource);
  return {};
}

}  // namespace qz
