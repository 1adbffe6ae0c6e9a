#include "components/dbus_callback.h"

#include <string>

#include "automation/names.h"
#include "automation/run_time_error.h"

namespace qz {
namespace {

struct ObjectDeleter {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct ErrorDeleter {
  void operator()(GError* error) const { g_error_free(error); }
};
struct CharsDeleter {
  void operator()(gchar* text) const { g_free(text); }
};

// D-Bus strings must be UTF-8; a stray byte would make GLib drop the call.
std::string ValidUtf8(const std::string& text) {
  std::unique_ptr<gchar, CharsDeleter> valid(
      g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
  return valid.get();
}

}  // namespace

SharedConnection ShareConnection(GDBusConnection* connection) {
  if (!connection) return nullptr;
  return SharedConnection(G_DBUS_CONNECTION(g_object_ref(connection)), ObjectDeleter{});
}

Variant DbusCallback::CallMethod(std::string_view name, std::span<Variant> args) {
  if (!NamesEqual(name, kCallbackServiceMethod)) throw RunTimeError(kErrNoSuchMember);
  if (args.size() != 2) throw RunTimeError(kErrWrongArguments);
  const std::string test_id = ValidUtf8(args[0].Text());
  const std::string message = ValidUtf8(args[1].Text());

  std::unique_ptr<GDBusMessage, ObjectDeleter> call(g_dbus_message_new_method_call(
      kCallbackProgId, kCallbackServicePath,
      kCallbackInterface, kCallbackServiceMethod));
  g_dbus_message_set_body(call.get(), g_variant_new("(ss)", test_id.c_str(), message.c_str()));
  g_dbus_message_set_flags(call.get(), G_DBUS_MESSAGE_FLAGS_NO_REPLY_EXPECTED);

  GError* raw_error = nullptr;
  const bool queued = g_dbus_connection_send_message(
      connection_.get(), call.get(), G_DBUS_SEND_MESSAGE_FLAGS_NONE, nullptr, &raw_error);
  std::unique_ptr<GError, ErrorDeleter> error(raw_error);
  if (!queued) {
    throw RunTimeError(kErrInternal, std::string("callback not sent: ") + error->message,
                       kCallbackProgId);
  }
  return Variant();
}

}  // namespace qz
