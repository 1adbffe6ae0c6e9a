#include <glib.h>
#include <gtest/gtest.h>

#include <memory>

#include "automation/component_registry.h"
#include "automation/run_time_error.h"
#include "components/callback_service.h"
#include "components/callback_target.h"
#include "components/http_callback.h"
#include "components/local_host.h"
#include "dispatch/c_notify.h"

namespace qz {
namespace {

TEST(CallbackLocalHost, NamesThatMeanThisMachine) {
  struct Case {
    const char* host;
    bool local;
  } cases[] = {
      {"", true},
      {"localhost", true},
      {"LocalHost", true},
      {"127.0.0.1", true},
      {"::1", true},
      {"build-box", true},  // the machine's own name
      {"BUILD-BOX", true},  // ignoring case
      {"build-box.example.org", false},
      {"localhost:8080", false},  // a port means the HTTP callback
      {"http://localhost/", false},
      {"127.0.0.2", false},
      {"0:0:0:0:0:0:0:1", false},
      {"other-box", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsLocalHost(c.host, "build-box"), c.local) << c.host;
  EXPECT_FALSE(IsLocalHost("x", "")) << "an unknown machine name matches nothing but itself";
  EXPECT_TRUE(IsLocalHost(g_get_host_name()));
}

TEST(CallbackTarget, CompletesHostsIntoUrls) {
  struct Case {
    const char* host;
    const char* url;  // nullptr: refused
    const char* name;
  } cases[] = {
      {"example.org", "http://example.org/qzcallback", "example.org"},
      {"Example.ORG:8080", "http://Example.ORG:8080/qzcallback", "example.org"},
      {"[::1]:9000", "http://[::1]:9000/qzcallback", "::1"},
      {"http://10.0.0.7", "http://10.0.0.7/qzcallback", "10.0.0.7"},
      {"https://hooks.example.org/agent/cb?x=1", "https://hooks.example.org/agent/cb?x=1",
       "hooks.example.org"},
      {"ftp://example.org/", nullptr, ""},
      {"file:///etc/passwd", nullptr, ""},
      {"http://user:pw@example.org/", nullptr, ""},
      {"exa mple.org", nullptr, ""},
      {"example.org\r\nX-Injected: 1", nullptr, ""},
      {"http://", nullptr, ""},
  };
  for (const Case& c : cases) {
    std::optional<CallbackTarget> target = ParseCallbackTarget(c.host);
    if (!c.url) {
      EXPECT_FALSE(target) << c.host;
      continue;
    }
    ASSERT_TRUE(target) << c.host;
    EXPECT_EQ(target->url, c.url);
    EXPECT_EQ(target->host, c.name);
  }
}

TEST(CallbackService, FactoryChoosesTheKindOfCallback) {
  ComponentRegistry registry;
  RegisterCallbackService(registry, {});  // no bus connection, session bus
  auto http =
      std::dynamic_pointer_cast<HttpCallback>(registry.Create(kCallbackProgId, " example.org:81 "));
  ASSERT_TRUE(http);
  EXPECT_EQ(http->target().url, "http://example.org:81/qzcallback");

  for (const char* local : {"localhost", "::1", "127.0.0.1"}) {
    try {
      registry.Create(kCallbackProgId, local);
      ADD_FAILURE() << local << ": a local callback needs the bus connection";
    } catch (const RunTimeError& e) {
      EXPECT_EQ(e.number(), kErrCannotCreate) << local;
    }
  }
  EXPECT_THROW(registry.Create(kCallbackProgId, "gopher://example.org"), RunTimeError);
}

}  // namespace
}  // namespace qz
