#include "server/replies.h"

#include "contract/contract.h"
#include "platform/holders.h"
#include "platform/utf8.h"

namespace qz {
namespace {

void Send(GDBusConnection* connection, MessagePtr reply) {
  // The caller may be gone: nothing to do about a reply that cannot go out.
  if (reply)
    g_dbus_connection_send_message(connection, reply.get(), G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr,
                                   nullptr);
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
  VariantPtr held = Own(body);
  if (g_dbus_message_get_flags(call) & G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED) return;
  MessagePtr reply(g_dbus_message_new_method_reply(call));
  if (reply && held) g_dbus_message_set_body(reply.get(), held.get());
  Send(connection, std::move(reply));
}

void SendError(GDBusConnection* connection, GDBusMessage* call, const RunTimeError& error) {
  std::string source = error.source().empty() ? kBoundarySource : error.source();
  SendErrorNamed(connection, call, ErrorName(error.number()), source + ": " + error.description());
}

void SendErrorNamed(GDBusConnection* connection, GDBusMessage* call, std::string_view name,
                    std::string_view message) {
  if (g_dbus_message_get_flags(call) & G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED) return;
  std::string error_name(name), text = ValidUtf8(message);
  Send(connection,
       MessagePtr(g_dbus_message_new_method_error_literal(call, error_name.c_str(), text.c_str())));
}

void SendStoppingError(GDBusConnection* connection, GDBusMessage* call) {
  SendErrorNamed(connection, call, kStoppingError, "qznotesd is stopping: the call was not run");
}

}  // namespace qz
