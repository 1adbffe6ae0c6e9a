// cRegistry over the store, and cNotify's profile listing through it.
#include "gateways/mail/c_registry.h"

#include <gtest/gtest.h>

#include "diagnostics/last_error.h"
#include "dispatch/c_notify.h"
#include "fakes.h"
#include "gateways/mail/mail_profile.h"
#include "support/temp_folder.h"

namespace qz::testing {
namespace {

constexpr std::string_view kBase = "Software\\VB and VBA Program Settings\\";

class cRegistryTest : public ::testing::Test {
 protected:
  // A value placed straight into the store.
  void Put(RegHandle root, std::string_view path, std::string_view name, std::string_view data) {
    RegHandle key = 0;
    ASSERT_EQ(store_.CreateKey(root, path, key), kRegOk) << path;
    ASSERT_EQ(store_.SetValue(key, name, data), kRegOk);
    store_.CloseKey(key);
  }
  std::string Get(std::string app, std::string section, std::string key, std::string def,
                  Variant hkey = Variant::Missing()) {
    return registry_.GetRegSetting(app, section, key, def, hkey);
  }

  TempFolder folder_;
  RegistryStore store_{folder_.File("QzRegistry.db")};
  cRegistry registry_{store_};
};

TEST_F(cRegistryTest, AppAndSectionAreNormalisedForTheCaller) {
  struct Case {
    std::string app, section;
    std::string app_after, section_after;
  };
  const Case cases[] = {
      {"\\App", "\\Sec", "App\\", "Sec"},
      {"App", "Sec", "App\\", "Sec"},
      {"App\\", "Sec\\", "App\\", "Sec\\"},
      {"\\\\App", "\\\\Sec", "\\App\\", "\\Sec"},  // only one leading backslash goes
      {"", "Sec", "\\", "Sec"},
  };
  for (const Case& c : cases) {
    std::string app = c.app, section = c.section, key = "k", def = "d";
    Variant hkey = Variant::Missing();
    registry_.GetRegSetting(app, section, key, def, hkey);
    EXPECT_EQ(app, c.app_after) << c.app;
    EXPECT_EQ(section, c.section_after) << c.section;
  }
}

TEST_F(cRegistryTest, ReadsUnderTheBasePathUsedAsItStands) {
  Put(kHkeyCurrentUser, std::string(kBase) + "App\\Sec", "Key", "value");
  EXPECT_EQ(Get("\\App", "\\Sec", "Key", "def"), "value");
  EXPECT_EQ(Get("App", "Sec", "Missing", "def"), "def");
  // An empty application makes two backslashes in a row: no such key.
  EXPECT_EQ(Get("", "Sec", "Key", "def"), "def");

  // A base without its final backslash runs into the application name.
  Put(kHkeyCurrentUser, "Software\\BaseApp\\Sec", "Key", "joined");
  registry_.SubKey("Software\\Base");
  EXPECT_EQ(Get("App", "Sec", "Key", "def"), "joined");
}

TEST_F(cRegistryTest, ReadLimitCountsCharactersAndWritesKeepEverything) {
  struct Case {
    std::string value;
    bool read_whole;
  };
  const Case cases[] = {{std::string(254, 'a'), true},
                        {std::string(255, 'a'), false},
                        {std::string(100000, 'a'), false},
                        {[] {
                           std::string s;
                           for (int i = 0; i < 254; ++i) s += "\xC3\xA9";
                           return s;
                         }(),
                         true},
                        {"", true}};
  for (const Case& c : cases) {
    std::string app = "App", section = "Sec", key = "K", setting = c.value;
    Variant hkey = Variant::Missing();
    registry_.SaveRegSetting(app, section, key, setting, hkey);
    EXPECT_EQ(Get("App", "Sec", "K", "default"), c.read_whole ? c.value : "default")
        << c.value.size();
    RegHandle k = 0;
    std::string stored;
    ASSERT_EQ(store_.OpenKey(kHkeyCurrentUser, std::string(kBase) + "App\\Sec", k), kRegOk);
    EXPECT_EQ(store_.QueryValue(k, "K", c.value.size() + 1, stored), kRegOk);
    EXPECT_EQ(stored, c.value);
    store_.CloseKey(k);
  }
}

TEST_F(cRegistryTest, SaveNeedsAppSectionAndKeyAndOnlyThenTakesTheRoot) {
  const Variant hklm(static_cast<int32_t>(kHkeyLocalMachine));
  struct Case {
    std::string app, section, key;
    bool written;
  };
  const Case cases[] = {{"App", "Sec", "   ", false},
                        {"App", " ", "K", false},
                        {"", "Sec", "K", false},
                        {" App ", "Sec", "K", true}};
  for (const Case& c : cases) {
    cRegistry registry(store_);
    std::string app = c.app, section = c.section, key = c.key, setting = "v";
    Variant hkey = hklm;
    registry.SaveRegSetting(app, section, key, setting, hkey);
    EXPECT_EQ(app, c.written ? " App \\" : c.app)
        << "nothing is normalised when nothing is written";
    // Without hKey, a later read uses whatever root the object now has.
    std::string ra = "App", rs = "Sec", rk = "K", rd = "none";
    Variant missing = Variant::Missing();
    registry.GetRegSetting(ra, rs, rk, rd, missing);
    RegHandle probe = 0;
    bool in_hklm =
        store_.OpenKey(kHkeyLocalMachine, std::string(kBase) + " App \\Sec", probe) == kRegOk;
    store_.CloseKey(probe);
    EXPECT_EQ(in_hklm, c.written) << c.key << "|" << c.section << "|" << c.app;
  }
}

TEST_F(cRegistryTest, AGivenRootKeyStaysForLaterCalls) {
  Put(kHkeyLocalMachine, std::string(kBase) + "App\\Sec", "K", "machine");
  Put(kHkeyCurrentUser, std::string(kBase) + "App\\Sec", "K", "user");
  EXPECT_EQ(Get("App", "Sec", "K", "d"), "user");
  EXPECT_EQ(Get("App", "Sec", "K", "d", Variant(static_cast<int32_t>(kHkeyLocalMachine))),
            "machine");
  EXPECT_EQ(Get("App", "Sec", "K", "d"), "machine");
  // No error trap: a root that is no number reaches the caller.
  EXPECT_THROW(Get("App", "Sec", "K", "d", Variant("HKLM")), RunTimeError);
}

TEST_F(cRegistryTest, EnumerationAndItsHelpers) {
  registry_.SubKey("Profiles\\");
  Variant none = registry_.gvarEnumerateProfiles();
  EXPECT_EQ(none.kind(), Variant::Kind::Array);
  EXPECT_EQ(none.UBound(), -1);

  Put(kHkeyCurrentUser, "Profiles\\Zeta", "Transport", "sendmail");
  Put(kHkeyCurrentUser, "Profiles\\alpha", "Transport", "sendmail");
  Variant two = registry_.gvarEnumerateProfiles();
  EXPECT_EQ(two, Variant::Array({Variant("alpha"), Variant("Zeta")}));

  std::string name = "old";
  EXPECT_EQ(registry_.RegEnumKey(0x4242, 0, name), kRegInvalidHandle);
  EXPECT_EQ(name, std::string(300, ' '));  // the untouched buffer
  EXPECT_EQ(registry_.RegEnumKey(static_cast<int32_t>(kHkeyCurrentUser), 0, name), kRegOk);
  EXPECT_EQ(name, "Profiles");

  EXPECT_EQ(registry_.StripTerminator("plain"), "plain");
  EXPECT_EQ(registry_.StripTerminator(std::string_view("\0tail", 5)), "");
  EXPECT_EQ(registry_.StripTerminator(std::string_view("ab\0cd\0", 6)), "ab");
}

TEST_F(cRegistryTest, GetMessageProfilesListsTheProfileKey) {
  GMainContext* context = g_main_context_new();
  ComponentRegistry components;
  ScriptedChannels channels;
  FakeSeat seat;
  ServerEnvironment env{folder_.path(), components, channels, seat, &store_};
  {
    cNotify notify(env, context);
    Variant none = notify.GetMessageProfiles();
    EXPECT_EQ(none.kind(), Variant::Kind::Array) << "no profile key: an array with no elements";
    EXPECT_EQ(none.UBound(), -1);
    Put(kHkeyCurrentUser, std::string(kMessageProfilesKey) + "Ops", "Transport", "sendmail");
    Put(kHkeyCurrentUser, std::string(kMessageProfilesKey) + "Mail Desk", "Transport", "sendmail");
    Put(kHkeyLocalMachine, std::string(kMessageProfilesKey) + "Other", "Transport", "sendmail");
    EXPECT_EQ(notify.GetMessageProfiles(), Variant::Array({Variant("Mail Desk"), Variant("Ops")}));
  }
  {
    // A damaged store is no error of the listing: nothing is found.
    folder_.Write("broken.db", std::string(8192, 'x'));
    RegistryStore broken(folder_.File("broken.db"));
    ServerEnvironment broken_env{folder_.path(), components, channels, seat, &broken};
    cNotify notify(broken_env, context);
    EXPECT_EQ(notify.GetMessageProfiles(), Variant::Array({}));
  }
  {
    ServerEnvironment no_store{folder_.path(), components, channels, seat};
    cNotify notify(no_store, context);
    gstrLastError.clear();
    EXPECT_TRUE(notify.GetMessageProfiles().IsEmpty());
    EXPECT_FALSE(gstrLastError.empty());
  }
  g_main_context_unref(context);
}

}  // namespace
}  // namespace qz::testing
