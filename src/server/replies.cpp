#include "server/replies.h"

namespace qz {
namespace {

void Send(GDBusConnection* connection, GDBusMessage* reply) {
  // Nobody may be waiting (NO_REPLY_EXPECTED) or the caller may be gone:
  // nothing to do about a reply that cannot go out.
  g_dbus_connection_send_message(connection, reply, G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, nullptr);
  g_object_unref(reply);
}

}  // namespace

std::string ErrorName(int32_t number) {
  std::string name(kErrorPrefix);
  if (number < 0) {
    name += "N" + std::to_string(-static_cast<int64_t>(number));
  } else {
    name += "E" + std::to_string(number);
  }
  return name;
}

void SendReply(GDBusConnection* connection, GDBusMessage* call, GVariant* body) {
  if (g_dbus_message_get_flags(call) & G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED) {
    if (body) g_variant_unref(g_variant_ref_sink(body));
    return;
  }
  GDBusMessage* reply = g_dbus_message_new_method_reply(call);
  if (body) g_dbus_message_set_body(reply, body);
  Send(connection, reply);
}

void SendError(GDBusConnection* connection, GDBusMessage* call, const RunTimeError& error) {
  std::string source = error.source().empty() ? kBoundarySource : error.source();
  SendErrorNamed(connection, call, ErrorName(error.number()), source + ": " + error.description());
}

void SendErrorNamed(GDBusConnection* connection, GDBusMessage* call, std::string_view name,
                    std::string_view message) {
  if (g_dbus_message_get_flags(call) & G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED) return;
  std::string error_name(name), text(message);
  Send(connection, g_dbus_message_new_method_error_literal(call, error_name.c_str(), text.c_str()));
}

}  // namespace qz
