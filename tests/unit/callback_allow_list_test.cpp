#include <gtest/gtest.h>

#include <fstream>

#include "automation/component_registry.h"
#include "automation/run_time_error.h"
#include "components/allowed_hosts.h"
#include "components/callback_service.h"
#include "dispatch/c_notify.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

TEST(CallbackAllowList, MatchesListedHostsOnly) {
  struct Case {
    const char* list;
    const char* host;
    bool allowed;
  } cases[] = {
      {"", "example.org", false},
      {"example.org", "example.org", true},
      {"EXAMPLE.org", "example.org", true},
      {"a.example.org, b.example.org", "b.example.org", true},
      {"a.example.org,b.example.org", "b.example.org", true},
      {" \ta.example.org  b.example.org ", "b.example.org", true},
      {"example.org", "badexample.org", false},  // whole names, no suffixes
      {"example.org", "example.or", false},
      {"[::1], 10.0.0.7", "::1", true},
      {"::1", "::1", true},
      {"10.0.0.7", "10.0.0.70", false},
      {"example.org", "", false},
      {",,", "", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(HostAllowed(c.list, c.host), c.allowed) << c.list << " / " << c.host;
}

class CallbackSystemBus : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterCallbackService(registry_, {nullptr, true, folder_.path(), std::chrono::seconds(5)});
  }
  void WriteSettings(const std::string& text) { std::ofstream(folder_ / "QzNotes.ini") << text; }
  bool Creates(const char* host) {
    try {
      return registry_.Create(kCallbackProgId, host) != nullptr;
    } catch (const RunTimeError& e) {
      EXPECT_EQ(e.number(), kErrCannotCreate);
      return false;
    }
  }

  testing::TempFolder folder_;
  ComponentRegistry registry_;
};

TEST_F(CallbackSystemBus, NoSettingsFileAllowsNoRemoteHost) {
  EXPECT_FALSE(Creates("example.org"));
  EXPECT_FALSE(Creates("http://127.0.0.1:8080/hook"));
}

TEST_F(CallbackSystemBus, OnlyListedHostsAndTheListIsReadAtEveryCreation) {
  WriteSettings("[Default]\nIndex=0\n[Callback]\nAllowedHosts=hooks.example.org, 127.0.0.1\n");
  EXPECT_TRUE(Creates("hooks.example.org:8443"));
  EXPECT_TRUE(Creates("https://HOOKS.example.org/agent"));
  EXPECT_TRUE(Creates("http://127.0.0.1:9/x"));
  EXPECT_FALSE(Creates("example.org"));
  EXPECT_FALSE(Creates("http://hooks.example.org.evil.test/"));

  WriteSettings("[Callback]\nAllowedHosts=\n");
  EXPECT_FALSE(Creates("hooks.example.org"));
}

}  // namespace
}  // namespace qz
