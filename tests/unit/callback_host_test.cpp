// The callback component's rules: which hosts are this machine, how a host
// becomes a URL, which hosts a system bus reaches, which addresses are never
// connected to, and how the posted text is escaped.
#include <glib.h>
#include <gtest/gtest.h>

#include "automation/component_registry.h"
#include "automation/run_time_error.h"
#include "components/allowed_hosts.h"
#include "components/callback_address.h"
#include "components/callback_service.h"
#include "components/host_resolver.h"
#include "components/http_callback.h"
#include "components/json_text.h"
#include "components/local_host.h"
#include "contract/contract.h"
#include "support/temp_folder.h"

namespace qz {
namespace {

TEST(CallbackLocalHost, NamesThatMeanThisMachine) {
  for (const char* local : {"", "localhost", "LocalHost", "127.0.0.1", "::1", "BUILD-BOX"})
    EXPECT_TRUE(IsLocalHost(local, "build-box")) << local;
  // A port or a scheme means the HTTP callback.
  for (const char* remote : {"build-box.example.org", "localhost:8080", "http://localhost/",
                             "127.0.0.2", "0:0:0:0:0:0:0:1"})
    EXPECT_FALSE(IsLocalHost(remote, "build-box")) << remote;
  EXPECT_FALSE(IsLocalHost("x", "")) << "an unknown machine name matches nothing but itself";
  EXPECT_TRUE(IsLocalHost(g_get_host_name()));
}

TEST(CallbackTarget, CompletesHostsIntoUrls) {
  struct Case {
    const char* host;
    const char* url;
    const char* name;
  } cases[] = {
      {"Example.ORG:8080", "http://Example.ORG:8080/qzcallback", "example.org"},
      {"[::1]:9000", "http://[::1]:9000/qzcallback", "::1"},
      {"http://10.0.0.7", "http://10.0.0.7/qzcallback", "10.0.0.7"},
      {"https://hooks.example.org/agent/cb?x=1", "https://hooks.example.org/agent/cb?x=1",
       "hooks.example.org"},
  };
  for (const Case& c : cases) {
    std::optional<CallbackTarget> target = ParseCallbackTarget(c.host);
    ASSERT_TRUE(target) << c.host;
    EXPECT_EQ(target->url, c.url);
    EXPECT_EQ(target->host, c.name);
  }
  for (const char* refused : {"ftp://example.org/", "http://user:pw@example.org/", "exa mple.org",
                              "example.org\r\nX-Injected: 1", "http://"})
    EXPECT_FALSE(ParseCallbackTarget(refused)) << refused;
}

TEST(CallbackAllowList, MatchesListedHostsOnly) {
  struct Case {
    const char* list;
    const char* host;
    bool allowed;
  } cases[] = {{"", "example.org", false},
               {"EXAMPLE.org", "example.org", true},
               {"a.example.org,b.example.org", "b.example.org", true},
               {" \ta.example.org  b.example.org ", "b.example.org", true},
               {"example.org", "badexample.org", false},
               {"example.org", "example.or", false},
               {"[::1], 10.0.0.7", "::1", true},
               {"10.0.0.7", "10.0.0.70", false},
               {",,", "", false}};
  for (const Case& c : cases)
    EXPECT_EQ(HostAllowed(c.list, c.host), c.allowed) << c.list << " / " << c.host;
}

// The neighbours of 169.254/16 and fe80::/10 are allowed; IPv4 inside IPv6
// is judged as the IPv4 address.
TEST(CallbackAddress, RefusesLinkLocalMulticastAndUnspecified) {
  auto refusal = [](const char* address) {
    return AddressRefusal(NumericEndpoint(address, 80).value().sockaddr_ref());
  };
  for (const char* allowed : {"127.0.0.1", "::1", "2001:db8::1", "169.253.255.255", "169.255.0.0",
                              "fec0::1", "223.255.255.255", "::ffff:127.0.0.1"})
    EXPECT_EQ(refusal(allowed), std::nullopt) << allowed;
  struct Case {
    const char* address;
    const char* refusal;
  } refused[] = {{"169.254.0.0", "link-local"},
                 {"febf:ffff::1", "link-local"},
                 {"224.0.0.1", "multicast"},
                 {"239.255.255.250", "multicast"},
                 {"ff02::1", "multicast"},
                 {"0.1.2.3", "unspecified"},
                 {"::", "unspecified"},
                 {"255.255.255.255", "broadcast"},
                 {"::ffff:169.254.169.254", "link-local"},
                 {"64:ff9b::a9fe:a9fe", "link-local"}};
  for (const Case& c : refused) EXPECT_EQ(refusal(c.address), c.refusal) << c.address;
}

TEST(CallbackJson, EscapesWhatJsonRequires) {
  struct Case {
    std::string text;
    const char* json;
  } cases[] = {{"say \"hi\"", R"("say \"hi\"")"},
               {"C:\\QzNotes", R"("C:\\QzNotes")"},
               {"a\r\nb\tc\b\f", R"("a\r\nb\tc\b\f")"},
               {std::string("nul\0\x1f", 5), R"("nul\u0000\u001f")"},
               {"\x7f/ Grüße €", "\"\x7f/ Grüße €\""},
               {"bad\xff!", R"("bad\ufffd!")"},
               {"cut\xe2\x82", R"("cut\ufffd\ufffd")"}};
  for (const Case& c : cases) EXPECT_EQ(JsonString(c.text), c.json) << c.text;
}

// The session bus without a connection makes HTTP callbacks only; the
// system bus only to the hosts QzNotes.ini lists, read at every creation.
TEST(CallbackService, FactoryChoosesTheKindOfCallbackAndTheSystemBusFollowsItsList) {
  auto creates = [](const ComponentRegistry& registry, const char* host) {
    try {
      return registry.Create(kCallbackProgId, host) != nullptr;
    } catch (const RunTimeError& e) {
      EXPECT_EQ(e.number(), kErrCannotCreate) << host;
      return false;
    }
  };
  ComponentRegistry session, system;
  RegisterCallbackService(session, {});
  auto http =
      std::dynamic_pointer_cast<HttpCallback>(session.Create(kCallbackProgId, " example.org:81 "));
  ASSERT_TRUE(http);
  EXPECT_EQ(http->target().url, "http://example.org:81/qzcallback");
  for (const char* host : {"localhost", "::1", "gopher://example.org"})
    EXPECT_FALSE(creates(session, host)) << host;

  testing::TempFolder folder;
  RegisterCallbackService(system, {nullptr, true, folder.path(), std::chrono::seconds(5)});
  EXPECT_FALSE(creates(system, "http://127.0.0.1:8080/hook")) << "no settings file";
  folder.Write("QzNotes.ini", "[Default]\nIndex=0\n[Callback]\nAllowedHosts=hooks.example.org\n");
  for (const char* host : {"hooks.example.org:8443", "https://HOOKS.example.org/agent"})
    EXPECT_TRUE(creates(system, host)) << host;
  EXPECT_FALSE(creates(system, "http://hooks.example.org.evil.test/"));
  folder.Write("QzNotes.ini", "[Callback]\nAllowedHosts=\n");
  EXPECT_FALSE(creates(system, "hooks.example.org"));
}

}  // namespace
}  // namespace qz
