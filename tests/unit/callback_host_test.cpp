// The callback component's rules: which hosts are this machine, how a host
// becomes a URL, which hosts a system bus reaches, which addresses are never
// connected to, and how the posted text is escaped.
#include <glib.h>
#include <gtest/gtest.h>

#include "automation/component_registry.h"
#include "automation/run_time_error.h"
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

// "url|host", or "|" for a host that is refused.
TEST(CallbackTarget, CompletesHostsIntoUrls) {
  for (auto [host, expected] :
       {std::pair{"Example.ORG:8080", "http://Example.ORG:8080/qzcallback|example.org"},
        {"[::1]:9000", "http://[::1]:9000/qzcallback|::1"},
        {"http://10.0.0.7", "http://10.0.0.7/qzcallback|10.0.0.7"},
        {"https://h.example.org/cb?x=1", "https://h.example.org/cb?x=1|h.example.org"},
        {"ftp://example.org/", "|"},
        {"http://user:pw@example.org/", "|"},
        {"exa mple.org", "|"},
        {"example.org\r\nX-Injected: 1", "|"},
        {"exa%7Fmple.org", "|"},  // decoded, a control character
        {"http://", "|"}}) {
    const CallbackTarget target = ParseCallbackTarget(host).value_or(CallbackTarget{});
    EXPECT_EQ(target.url + "|" + target.host, expected);
  }
}

// The neighbours of 169.254/16 and fe80::/10 are allowed; IPv4 inside IPv6
// is judged as the IPv4 address.
TEST(CallbackAddress, RefusesLinkLocalMulticastAndUnspecified) {
  auto refusal_of = [](const char* address) {
    return AddressRefusal(NumericEndpoint(address, 80).value().sockaddr_ref()).value_or("");
  };
  for (const char* address :
       {"127.0.0.1", "::1", "169.253.255.255", "169.255.0.0", "fec0::1", "::ffff:127.0.0.1"})
    EXPECT_EQ(refusal_of(address), "") << address;
  for (auto [address, refusal] : {std::pair{"169.254.0.0", "link-local"},
                                  {"febf:ffff::1", "link-local"},
                                  {"224.0.0.1", "multicast"},
                                  {"ff02::1", "multicast"},
                                  {"0.1.2.3", "unspecified"},
                                  {"::", "unspecified"},
                                  {"255.255.255.255", "broadcast"},
                                  {"::ffff:169.254.169.254", "link-local"},
                                  {"64:ff9b::a9fe:a9fe", "link-local"}})
    EXPECT_EQ(refusal_of(address), refusal) << address;
}

TEST(CallbackJson, EscapesWhatJsonRequires) {
  for (auto [text, json] : {std::pair<std::string, const char*>{"say \"hi\"", R"("say \"hi\"")"},
                            {"C:\\QzNotes", R"("C:\\QzNotes")"},
                            {"a\r\nb\tc\b\f", R"("a\r\nb\tc\b\f")"},
                            {std::string("nul\0\x1f", 5), R"("nul\u0000\u001f")"},
                            {"\x7f/ Grüße €", "\"\x7f/ Grüße €\""},
                            {"bad\xff!", R"("bad\ufffd!")"},
                            {"cut\xe2\x82", R"("cut\ufffd\ufffd")"}})
    EXPECT_EQ(JsonString(text), json) << text;
}

// The session bus without a connection makes HTTP callbacks only; the
// system bus only to the hosts QzNotes.ini lists, read at every creation.
TEST(CallbackService, FactoryChoosesTheKindOfCallbackAndTheSystemBusFollowsItsList) {
  testing::TempFolder folder;
  ComponentRegistry session, system;
  RegisterCallbackService(session, {});
  RegisterCallbackService(system, {nullptr, true, folder.path(), std::chrono::seconds(5)});
  auto http =
      std::dynamic_pointer_cast<HttpCallback>(session.Create(kCallbackProgId, " example.org:81 "));
  ASSERT_TRUE(http);
  EXPECT_EQ(http->target().url, "http://example.org:81/qzcallback");
  // True when creating raises 429.
  auto refused = [](const ComponentRegistry& registry, const char* host) {
    try {
      registry.Create(kCallbackProgId, host);
    } catch (const RunTimeError& e) {
      return e.number() == kErrCannotCreate;
    }
    return false;
  };
  for (const char* host : {"localhost", "::1", "gopher://example.org"})
    EXPECT_TRUE(refused(session, host)) << host;
  EXPECT_TRUE(refused(system, "http://127.0.0.1:8080/hook")) << "no settings file";
  folder.Write("QzNotes.ini", "[Callback]\nAllowedHosts=hooks.example.org\n");
  EXPECT_FALSE(refused(system, "https://HOOKS.example.org/agent"));
  EXPECT_TRUE(refused(system, "http://hooks.example.org.evil.test/"));
  folder.Write("QzNotes.ini", "[Callback]\nAllowedHosts=\n");
  EXPECT_TRUE(refused(system, "hooks.example.org"));
}

}  // namespace
}  // namespace qz
