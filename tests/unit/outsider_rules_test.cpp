// What an outsider on the system bus is held to, as pure rules: which
// settings values it reads blanked, which SMTP servers its requests may
// name and which hosts its callbacks may reach, and how the apartment pool
// keeps one user within a share.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "automation/apartment_pool.h"
#include "components/allowed_hosts.h"
#include "config/settings_groups.h"
#include "server/secret_blanking.h"
#include "server/smtp_allow_list.h"

namespace qz {
namespace {

Variant Texts(std::vector<std::string> texts) {
  return Variant::Array(std::vector<Variant>(texts.begin(), texts.end()));
}

TEST(SecretBlanking, BlanksSecretKeysAndUrlCredentialsOnly) {
  const SettingKey keys[] = {
      {"SMS", "Header"}, {"SMS", "SMSTrailer"}, {"X", "password"}, {"SMS", "Connect"}};
  for (const auto& [answer, expected, why] :
       {std::tuple{Texts({"Authorization: Bearer t0k", "username=u&password=p", "000000",
                          "/cgi-bin/sendsms"}),
                   Texts({"", "", "", "/cgi-bin/sendsms"}), "values by position"},
        {Texts({"Header=Authorization: Bearer t0k", "SMSTrailer=a&b", "Password=9", "Connect=/x"}),
         Texts({"Header=", "SMSTrailer=", "Password=", "Connect=/x"}), "key=value texts"},
        {Texts({"HEADER=X: 1"}), Texts({"HEADER="}), "key case is ignored"},
        {Texts({"", "", "", "Connect=smtp://u:p@mail.example.org:587/x", "smtps://a@b@h"}),
         Texts({"", "", "", "Connect=smtp://mail.example.org:587/x", "smtps://h"}),
         "URL credentials anywhere, and past the keys"},
        {Texts({"", "", "", "relay http://u:p/w@h and smtp://h2"}),
         Texts({"", "", "", "relay http://h and smtp://h2"}), "a password holding a slash"},
        {Variant("smtp://ops:pw@relay"), Variant("smtp://relay"), "a single text"},
        {Variant(), Variant(), "Empty stays Empty"},
        {Variant::NoDimensions(), Variant::NoDimensions(), "no dimensions stays"}})
    EXPECT_EQ(BlankedSettings(answer, keys), expected) << why;
}

TEST(SecretBlanking, TheSmsGroupLosesHeaderAndTrailer) {
  std::vector<std::string> values(kSmsGroup.size(), "v");
  const Variant blanked = BlankedSettings(Texts(values), PagerSettingsKeys(3));
  std::vector<std::string> kept;
  for (const Variant& v : blanked.Items()) kept.push_back(v.Text());
  values[6] = values[13] = "";  // Header, SMSTrailer
  EXPECT_EQ(kept, values);
  EXPECT_TRUE(PagerSettingsKeys(7).empty());
}

// The callback's host list (smtp false) and the SMTP server list: whole
// names in any case; the SMTP list holds ports and schemes too.
TEST(AllowLists, MatchListedHostsOnly) {
  for (const auto& [smtp, list, host, allowed] :
       {std::tuple{false, "", "example.org", false},
        {false, "EXAMPLE.org", "example.org", true},
        {false, "a.example.org,b.example.org", "b.example.org", true},
        {false, " \ta.example.org  b.example.org ", "b.example.org", true},
        {false, "example.org", "badexample.org", false},
        {false, "[::1], 10.0.0.7", "::1", true},
        {false, "10.0.0.7", "10.0.0.70", false},
        {false, ",,", "", false},
        {true, "mail.example.org", "MAIL.example.org", true},
        {true, "mail.example.org", "mail.example.org:25", true},
        {true, "mail.example.org", "mail.example.org:2525", false},
        {true, "a.example.org, mail.example.org:2525", "smtp://mail.example.org:2525", true},
        {true, "mail.example.org:2525", "smtp://user:pw@mail.example.org:2525", true},
        {true, "smtps://mail.example.org", "smtps://mail.example.org:465", true},
        {true, "smtps://mail.example.org", "mail.example.org", false},
        {true, "127.0.0.1:2525 [::1]:2525", "[::1]:2525", true},
        {true, "evil.example.org", "evil.example.org.attacker.test", false},
        {true, "mail.example.org", "mail.example.org/x", false}})
    EXPECT_EQ(smtp ? SmtpServerAllowed(SplitServerList(list), host) : HostAllowed(list, host),
              allowed)
        << list << " / " << host;
}

TEST(SmtpAllowList, FindsTheServerARequestNames) {
  auto options = [](Variant server, int32_t lbound = 0) {
    return Variant::Array(
        {Variant("subject"), Variant("a@b"), Variant(""), std::move(server), Variant("True")},
        lbound);
  };
  for (const auto& [lvarAny, server] :
       {std::pair{options(Variant("evil:2525")), std::string("evil:2525")},
        {options(Variant("  ")), ""},
        {options(Variant::Null()), ""},
        {options(Variant("evil"), 1), ""},  // element 3 is the profile then
        {Variant("evil:2525"), ""},
        {Variant::Array({Variant("s")}), ""}})
    EXPECT_EQ(RequestedSmtpServer(lvarAny).value_or(""), server);
}

TEST(ApartmentPool, ChoosesWithinTheUsersShare) {
  using Vs = std::vector<SeatView>;
  for (const auto& [apartments, may_grow, share, chosen, why] :
       {std::tuple{Vs{}, true, size_t{2}, size_t{0}, "the first apartment"},
        {Vs{{false, 1, 1}}, true, 2, 1, "a new apartment before sharing"},
        {Vs{{false, 0, 0}}, true, 2, 0, "an empty apartment before a new one"},
        {Vs{{true, 1, 1}, {false, 3, 3}}, false, 2, 1, "no delivery in progress first"},
        {Vs{{false, 1, 1}, {false, 1, 1}}, true, 2, 0, "at its share: no new apartment"},
        {Vs{{false, 1, 1}, {false, 0, 0}, {false, 0, 0}}, false, 1, 0,
         "at its share: not even an idle one"},
        {Vs{{true, 2, 2}, {true, 1, 1}, {false, 0, 0}}, false, 2, 1, "busy, but its own"},
        {Vs{{false, 1, 0}, {false, 3, 3}}, false, 2, 1, "away from other users' objects"},
        {Vs{{false, 1, 0}, {true, 1, 1}}, false, 2, 1, "its own busy one before another's"},
        {Vs{{true, 4, 4}, {true, 4, 4}, {false, 0, 0}}, false, 0, 2, "no share: anywhere"}})
    EXPECT_EQ(ChooseSeat(apartments, may_grow, share), chosen) << why;
}

TEST(ApartmentPool, UserShareLeavesOneApartmentForOthers) {
  const std::tuple<unsigned, unsigned, unsigned> cases[] = {
      {4, 0, 2}, {1, 0, 1}, {3, 0, 1}, {8, 0, 4}, {4, 3, 3}, {4, 9, 3}, {1, 9, 1},
  };
  for (auto [max, requested, share] : cases)
    EXPECT_EQ(UserShare(max, requested), share) << max << " " << requested;
}

// The pool keeps the count of each user's objects: a user at its share is
// seated among its own apartments while another user gets a free one, and
// a seat given back frees the apartment for the share again.
TEST(ApartmentPool, SeatsEachUserWithinItsShare) {
  ApartmentPool pool(4);  // share 2
  auto a1 = pool.Assign(7), a2 = pool.Assign(7), a3 = pool.Assign(7);
  for (auto* a : {a1.get(), a2.get()}) ++a->deliveries();  // stuck deliveries
  auto b = pool.Assign(8);
  EXPECT_NE(a1, a2);
  EXPECT_TRUE(a3 == a1 || a3 == a2) << "a third apartment for user 7";
  EXPECT_TRUE(b != a1 && b != a2) << "user 8 seated with user 7's stuck deliveries";
  auto unowned = pool.Assign();
  EXPECT_TRUE(unowned != a1 && unowned != a2) << "an object of no user, behind a stuck delivery";
  EXPECT_TRUE(pool.Assign(9) && pool.size() == 4u) << "a full pool shares, never grows";
  for (auto* a : {a1.get(), a2.get()}) --a->deliveries();
  a2.reset();
  a3.reset();
  auto again = pool.Assign(7);
  EXPECT_NE(again, a1) << "user 7 gave one apartment back, so may take an empty one";
}

}  // namespace
}  // namespace qz
