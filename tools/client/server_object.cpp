#include "client/server_object.h"

namespace qz::client {

VariantPtr CallMethod(GDBusConnection* connection, std::string_view destination,
                      std::string_view path, std::string_view interface_name,
                      std::string_view method, GVariant* parameters, ErrorPtr& error) {
  return VariantPtr(g_dbus_connection_call_sync(
      connection, std::string(destination).c_str(), std::string(path).c_str(),
      std::string(interface_name).c_str(), std::string(method).c_str(), parameters, nullptr,
      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, ErrorSlot(error)));
}

bool OneStringReply(GVariant* reply, const char* type, const char* what, std::string& out,
                    ErrorPtr& error) {
  if (!g_variant_is_of_type(reply, G_VARIANT_TYPE(type))) {
    error.reset(g_error_new(G_DBUS_ERROR, G_DBUS_ERROR_INVALID_SIGNATURE, "%s answered %s, not %s",
                            what, g_variant_get_type_string(reply), type));
    return false;
  }
  const char* text = nullptr;
  g_variant_get_child(reply, 0, type[1] == 'o' ? "&o" : "&s", &text);
  out = text;
  return true;
}

bool ServerObject::Create(std::string_view class_name, ErrorPtr& error) {
  const std::string progid = "QzNotes." + std::string(class_name);
  VariantPtr reply = CallMethod(connection_, destination_, kFactoryPath, kFactoryInterface,
                                "CreateObject", g_variant_new("(s)", progid.c_str()), error);
  return reply && OneStringReply(reply.get(), "(o)", "CreateObject", path_, error);
}

VariantPtr ServerObject::Call(std::string_view interface_name, std::string_view method,
                              GVariant* parameters, ErrorPtr& error) const {
  return CallMethod(connection_, destination_, path_, interface_name, method, parameters, error);
}

void ServerObject::Release() {
  if (path_.empty()) return;
  // Nothing to do about a failed release: the server also drops our objects
  // when this connection leaves the bus.
  ErrorPtr ignored;
  Call(kDispatchInterface, "Release", nullptr, ignored);
  path_.clear();
}

}  // namespace qz::client
