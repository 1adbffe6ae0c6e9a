// What reaches the bus is checked against the real daemon; here, what is
// refused before anything is sent.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "automation/component_registry.h"
#include "automation/run_time_error.h"
#include "components/callback_service.h"
#include "contract/contract.h"
#include "server/remote_object.h"
#include "support/private_bus.h"
#include "support/variant_text.h"

namespace qz {
namespace {

TEST(CallbackDbus, OnlyTheNamesUserIsCalledAndAClosedConnectionRaises) {
  testing::PrivateBus bus;
  testing::BusConnection server = bus.Connect(), holder = bus.Connect();
  Variant args[] = {Variant("T"), Variant("m")};
  auto call_as = [&](uint32_t user) {
    RemoteObject(server.get(), kCallbackProgId, "/", user).CallMethod("CallBack", args);
  };
  EXPECT_THROW(call_as(getuid()), RunTimeError) << "nobody holds the name";
  GVariant* reply = g_dbus_connection_call_sync(
      holder.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "RequestName", g_variant_new("(su)", kCallbackProgId, 4u /* do not queue */),
      G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
  ASSERT_EQ(testing::PrintedVariant(reply), "(uint32 1,)") << "owning the name";
  g_variant_unref(reply);
  EXPECT_NO_THROW(call_as(getuid()));
  EXPECT_THROW(call_as(getuid() + 1), RunTimeError) << "held by another user";

  ComponentRegistry registry;
  RegisterCallbackService(registry, {server.get(), false, {}, std::chrono::seconds(5)});
  auto callback = registry.Create(kCallbackProgId, "localhost");
  EXPECT_TRUE(callback->CallMethod("CallBack", args).IsEmpty());
  g_dbus_connection_close_sync(server.get(), nullptr, nullptr);
  // GDBus's worker thread sets the closed flag, possibly after the close
  // returned; sending fails only then.
  for (int i = 0; i < 3000 && !g_dbus_connection_is_closed(server.get()); ++i) g_usleep(10000);
  EXPECT_THROW(callback->CallMethod("CallBack", args), RunTimeError) << "closed connection";
}

}  // namespace
}  // namespace qz
