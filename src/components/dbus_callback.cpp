#include "components/dbus_callback.h"

#include <string>

#include "automation/names.h"
#include "automation/run_time_error.h"
#include "platform/holders.h"
#include "platform/utf8.h"

namespace qz {
namespace {}  // namespace

SharedConnection ShareConnection(GDBusConnection* connection) {
  if (!connection) return nullptr;
  return SharedConnection(G_DBUS_CONNECTION(g_object_ref(connection)), ObjectUnref{});
}

Variant DbusCallback::CallMethod(std::string_view name, std::span<Variant> args) {
  if (!AsciiCaseEqual(name, kCallbackServiceMethod)) throw RunTimeError(kErrNoSuchMember);
  if (args.size() != 2) throw RunTimeError(kErrWrongArguments);
  const std::string test_id = ValidUtf8(args[0].Text());
  const std::string message = ValidUtf8(args[1].Text());

  MessagePtr call(g_dbus_message_new_method_call(kCallbackProgId, kCallbackServicePath,
                                                 kCallbackInterface, kCallbackServiceMethod));
  // Neither can be null as used today; a null would otherwise fail unnoticed.
  if (!call || !connection_)
    throw RunTimeError(kErrInternal, "callback not sent: no bus", kCallbackProgId);
  g_dbus_message_set_body(call.get(), g_variant_new("(ss)", test_id.c_str(), message.c_str()));
  g_dbus_message_set_flags(call.get(), G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED);

  ErrorPtr error;
  if (!g_dbus_connection_send_message(connection_.get(), call.get(), G_DBUS_SEND_MESSAGE_FLAGS_NONE,
                                      nullptr, ErrorSlot(error)))
    throw RunTimeError(kErrInternal, std::string("callback not sent: ") + ErrorText(error),
                       kCallbackProgId);
  return Variant();
}

}  // namespace qz
