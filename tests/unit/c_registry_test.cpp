// cNotify's profile listing through cRegistry: the one use the server makes
// of cRegistry.
#include "gateways/mail/c_registry.h"

#include <gtest/gtest.h>

#include "dispatch/c_notify.h"
#include "fakes.h"
#include "gateways/mail/mail_profile.h"
#include "support/temp_folder.h"

namespace qz::testing {
namespace {

TEST(cRegistryTest, GetMessageProfilesListsTheUsersProfileKeyAndADamagedStoreFindsNothing) {
  TempFolder folder;
  RegistryStore store(folder.File("QzRegistry.db"));
  GMainContext* context = g_main_context_new();
  ComponentRegistry components;
  ScriptedChannels channels;
  FakeSeat seat;
  auto listing = [&](RegistryStore& store) {
    ServerEnvironment env{folder.path(), components, channels, seat, &store};
    return cNotify(env, context).GetMessageProfiles();
  };
  EXPECT_EQ(listing(store), Variant::Array({})) << "no profile key: an array with no elements";
  for (const auto& [root, name] :
       {std::pair(kHkeyCurrentUser, "Ops"), std::pair(kHkeyCurrentUser, "Mail Desk"),
        std::pair(kHkeyLocalMachine, "Other")})
    ASSERT_EQ(store.ReplaceValues(root, std::string(kMessageProfilesKey) + name, {}), kRegOk);
  EXPECT_EQ(listing(store), Variant::Array({Variant("Mail Desk"), Variant("Ops")}));
  RegistryStore broken(folder.Write("broken.db", std::string(8192, 'x')));
  EXPECT_EQ(listing(broken), Variant::Array({}));
  g_main_context_unref(context);
}

}  // namespace
}  // namespace qz::testing
