#include <gio/gio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "automation/component_registry.h"
#include "automation/run_time_error.h"
#include "components/callback_service.h"
#include "contract/contract.h"
#include "dispatch/c_notify.h"
#include "server/remote_object.h"
#include "support/private_bus.h"

namespace qz {
namespace {

constexpr char kCallbackXml[] =
    "<node><interface name='org.qznotes.QzNotes.Callback'>"
    "<method name='CallBack'><arg type='s' direction='in'/><arg type='s' direction='in'/></method>"
    "</interface></node>";

// Owns qzCallback.cService on its own connection and records every CallBack.
// Its handler runs on a context of its own, iterated only by WaitForCall.
class CallbackReceiver {
 public:
  explicit CallbackReceiver(const testing::PrivateBus& bus) : context_(g_main_context_new()) {
    g_main_context_push_thread_default(context_);
    connection_ = bus.Connect();  // delivers to the context pushed above
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kCallbackXml, nullptr);
    static const GDBusInterfaceVTable vtable = {&CallbackReceiver::OnCall, nullptr, nullptr, {}};
    registration_ = g_dbus_connection_register_object(connection_.get(), "/", node->interfaces[0],
                                                      &vtable, this, nullptr, nullptr);
    g_dbus_node_info_unref(node);
    g_main_context_pop_thread_default(context_);

    GVariant* reply = g_dbus_connection_call_sync(
        connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", kCallbackProgId, 4u /* do not queue */),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (reply) {
      guint32 result = 0;
      g_variant_get(reply, "(u)", &result);
      owned_ = result == 1;  // primary owner
      g_variant_unref(reply);
    }
  }
  ~CallbackReceiver() {
    g_dbus_connection_unregister_object(connection_.get(), registration_);
    connection_.reset();
    while (g_main_context_iteration(context_, FALSE)) {
    }
    g_main_context_unref(context_);
  }

  bool owned() const { return owned_ && registration_ != 0; }

  // The calls received, waiting (at most 30 s) until `count` have come.
  const std::vector<std::vector<std::string>>& WaitForCalls(size_t count) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (calls_.size() < count && std::chrono::steady_clock::now() < give_up) {
      if (!g_main_context_iteration(context_, FALSE)) g_usleep(10000);
    }
    return calls_;
  }

 private:
  static void OnCall(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                     const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                     gpointer self) {
    const gchar* test_id = nullptr;
    const gchar* message = nullptr;
    g_variant_get(parameters, "(&s&s)", &test_id, &message);
    static_cast<CallbackReceiver*>(self)->calls_.push_back({method, test_id, message});
    g_dbus_method_invocation_return_value(invocation, nullptr);
  }

  GMainContext* context_;
  testing::BusConnection connection_;
  guint registration_ = 0;
  bool owned_ = false;
  std::vector<std::vector<std::string>> calls_;
};

TEST(CallbackDbus, LocalHostsCallTheCallbackService) {
  testing::PrivateBus bus;
  CallbackReceiver receiver(bus);
  ASSERT_TRUE(receiver.owned());
  testing::BusConnection server = bus.Connect();
  ComponentRegistry registry;
  RegisterCallbackService(registry, {server.get(), true, "/nonexistent", std::chrono::seconds(5)});

  const std::vector<std::string> hosts = {"localhost", "127.0.0.1", "::1", g_get_host_name()};
  for (const std::string& host : hosts) {
    auto callback = registry.Create(kCallbackProgId, host);  // the system bus needs no list
    Variant args[] = {Variant("T-" + host), Variant("QzNotes: Message Sent")};
    EXPECT_TRUE(callback->CallMethod("CallBack", args).IsEmpty());
  }
  const auto& calls = receiver.WaitForCalls(hosts.size());
  ASSERT_EQ(calls.size(), hosts.size());
  for (size_t i = 0; i < hosts.size(); ++i) {
    EXPECT_EQ(calls[i],
              (std::vector<std::string>{"CallBack", "T-" + hosts[i], "QzNotes: Message Sent"}));
  }
}

TEST(CallbackDbus, ClosedConnectionRaises) {
  testing::PrivateBus bus;
  testing::BusConnection server = bus.Connect();
  ComponentRegistry registry;
  RegisterCallbackService(registry, {server.get(), false, {}, std::chrono::seconds(5)});
  auto callback = registry.Create(kCallbackProgId, "localhost");
  g_dbus_connection_close_sync(server.get(), nullptr, nullptr);
  // The closed flag is set by GDBus's worker thread, possibly after the
  // close returned; wait (at most 30 s) until sending must fail.
  for (int i = 0; i < 3000 && !g_dbus_connection_is_closed(server.get()); ++i) g_usleep(10000);
  ASSERT_TRUE(g_dbus_connection_is_closed(server.get()));
  Variant args[] = {Variant("T"), Variant("m")};
  EXPECT_THROW(callback->CallMethod("CallBack", args), RunTimeError);
}

// A well-known name kept with its caller's user is called only while a
// connection of that user holds it; nobody holding it fails as well.
TEST(CallbackDbus, WellKnownNameIsCalledOnlyWhileItsUserHoldsIt) {
  testing::PrivateBus bus;
  testing::BusConnection server = bus.Connect();
  Variant args[] = {Variant("T"), Variant("m")};
  const uint32_t me = getuid();
  EXPECT_THROW(RemoteObject(server.get(), kCallbackProgId, "/", me).CallMethod("CallBack", args),
               RunTimeError)
      << "nobody holds the name";

  CallbackReceiver receiver(bus);
  ASSERT_TRUE(receiver.owned());
  EXPECT_THROW(
      RemoteObject(server.get(), kCallbackProgId, "/", me + 1).CallMethod("CallBack", args),
      RunTimeError);
  Variant mine[] = {Variant("mine"), Variant("m")};
  RemoteObject(server.get(), kCallbackProgId, "/", me).CallMethod("CallBack", mine);
  const auto& calls = receiver.WaitForCalls(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0][1], "mine") << "only the call for the holder's own user arrives";
}

}  // namespace
}  // namespace qz
