#include <gtest/gtest.h>

#include <regex>

#include "dispatch_fixture.h"

namespace qz::testing {
namespace {

constexpr const char* kSent = "QzNotes: Message Sent";
constexpr const char* kUndeliverable =
    "QzNotes: Message Undeliverable. See QzNotesLog.log file for details ";

Variant SmtpOptions() {
  return List(
      {Variant("s"), Variant("f@example.org"), Variant(""), Variant("mail"), Variant("True")});
}

struct RunCase {
  const char* why;
  bool mail;
  std::function<Variant()> gateway;
  std::map<std::string, std::string> failures;
  std::vector<std::string> channels;
  std::string logged;  // "" when nothing is logged
};

TEST_F(DispatchTest, StatusTextsAndLogEntries) {
  auto gw = [](Variant v) { return [v] { return v; }; };
  const RunCase cases[] = {
      {"mail off, no settings file", false, gw(Variant()), {}, {"pager", "pager"}, ""},
      {"everything delivers", true, gw(Variant("0")), {}, {"smtp", "pager", "smtp", "pager"}, ""},
      {"mail fails in each group",
       true,
       gw(Variant("0")),
       {{"smtp", "X"}},
       {"smtp", "pager", "smtp", "pager"},
       "Mail Status: X::Mail Status: X::"},
      {"mail and paging fail",
       true,
       gw(Variant(" 1 ")),
       {{"smtp", "X"}, {"snpp", "Y"}},
       {"smtp", "snpp", "smtp", "snpp"},
       "Mail Status: X::Page Status: Y::Mail Status: X::Page Status: Y::"},
      {"gateway outside 0 to 2",
       false,
       gw(Variant(int16_t{5})),
       {},
       {},
       "Page Status: ::Page Status: ::"},
      {"gateway Null equals nothing",
       false,
       gw(Variant::Null()),
       {},
       {},
       "Page Status: ::Page Status: ::"},
      {"gateway empty text",
       false,
       gw(Variant("")),
       {},
       {},
       "Message Undeliverable. Type mismatch.\r\n"},
      {"gateway no number",
       true,
       gw(Variant("two")),
       {},
       {"smtp"},
       "Message Undeliverable. Type mismatch.\r\n"},
      {"gateway unreadable",
       false,
       []() -> Variant {
         throw RunTimeError(53, "File not found", "cNotify: mvarGetDefaultGateway");
       },
       {},
       {},
       "Message Undeliverable. File not found.\r\n"},
      {"SMS gateway",
       false,
       gw(Variant("2")),
       {{"sms", "no credit"}},
       {"sms-init", "sms", "sms-init", "sms"},
       "Page Status: no credit::Page Status: no credit::"},
  };
  int run = 0;
  for (const auto& c : cases) {
    notify_ = std::make_unique<cNotify>(env_, context_);
    std::filesystem::remove(folder_ / "QzNotesLog.log");
    channels_.uses.clear();
    channels_.failures = c.failures;
    channels_.gateway = c.gateway;
    auto callback = std::make_shared<RecordingCallback>();
    std::string id = "run-" + std::to_string(++run);
    ASSERT_EQ(Send(c.mail ? SmtpOptions() : Variant(), callback, id).Text(),
              "Notes Server: Asynch mode");
    notify_->NotesTimer_Timer();

    EXPECT_EQ(channels_.Names(), c.channels) << c.why;
    std::string log = Log();
    if (c.logged.empty()) {
      EXPECT_EQ(log, "") << c.why;
      EXPECT_EQ(callback->calls, (std::vector<std::vector<std::string>>{{id, kSent}})) << c.why;
    } else {
      static const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )");
      EXPECT_TRUE(std::regex_search(log, stamp)) << c.why << ": " << log;
      EXPECT_EQ(log.substr(std::min<size_t>(20, log.size())), c.logged + "\r\n") << c.why;
      EXPECT_EQ(callback->calls, (std::vector<std::vector<std::string>>{{id, kUndeliverable}}))
          << c.why;
    }
  }
}

TEST_F(DispatchTest, GatewayIsAskedUpToThreeTimesPerGroup) {
  channels_.gateway = [] { return Variant(int16_t{7}); };
  Send(Variant());
  notify_->NotesTimer_Timer();
  EXPECT_EQ(channels_.gateway_reads, 6);

  // The setting changing between the questions is followed: each group
  // sees 9 at the first question and 1 at the second.
  const int16_t answers[] = {9, 1, 9, 1};
  size_t next = 0;
  channels_.uses.clear();
  channels_.gateway = [&] { return Variant(answers[next++]); };
  Send(Variant());
  notify_->NotesTimer_Timer();
  EXPECT_EQ(channels_.Names(), (std::vector<std::string>{"snpp", "snpp"}));
}

TEST_F(DispatchTest, GroupWithoutPagingChannelInheritsTheOutcome) {
  channels_.gateway = [] { return Variant(int16_t{2}); };
  std::vector<bool> init_answers = {true, false};
  size_t next = 0;
  channels_.sms_initialises = [&] { return init_answers[next++ % 2]; };
  Send(Variant());
  notify_->NotesTimer_Timer();
  EXPECT_EQ(channels_.Names(), (std::vector<std::string>{"sms-init", "sms", "sms-init"}));
  EXPECT_EQ(Log(), "");  // group 1 keeps group 0's success

  // The first group starts from false.
  init_answers = {false, false};
  channels_.uses.clear();
  Send(Variant());
  notify_->NotesTimer_Timer();
  EXPECT_NE(Log().find("Page Status: ::Page Status: ::\r\n"), std::string::npos);
}

TEST_F(DispatchTest, RunTimeFailureSkipsTheRemainingGroups) {
  pagers_ = List({List({List({Variant("100")})})});  // one group fewer than the messages
  auto callback = std::make_shared<RecordingCallback>();
  channels_.failures = {{"pager", "lost"}};
  Send(Variant(), callback);
  notify_->NotesTimer_Timer();
  EXPECT_EQ(channels_.Names(), (std::vector<std::string>{"pager"}));
  EXPECT_NE(Log().find(" Message Undeliverable. Subscript out of range.\r\n\r\n"),
            std::string::npos);
  EXPECT_EQ(callback->calls.at(0).at(1), kUndeliverable);

  notes_ = Variant("not an array");
  Send(Variant(), callback);
  notify_->NotesTimer_Timer();
  EXPECT_NE(Log().find(" Message Undeliverable. Type mismatch.\r\n\r\n"), std::string::npos);
}

TEST_F(DispatchTest, SameTextIsLoggedOncePerObject) {
  channels_.failures = {{"pager", "down"}};
  for (int i = 0; i < 2; ++i) {
    Send(Variant());
    notify_->NotesTimer_Timer();
  }
  cNotify other(env_, context_);
  other.SendMessageCallBack(notes_, emails_, pagers_, Variant(), nullptr, "t2");
  other.NotesTimer_Timer();
  std::string log = Log();
  size_t entries = 0;
  for (size_t at = log.find("Page Status: down::Page Status: down::\r\n"); at != std::string::npos;
       at = log.find("Page Status: down::Page Status: down::\r\n", at + 1))
    ++entries;
  EXPECT_EQ(entries, 2u);
}

TEST_F(DispatchTest, RunsOncePerRequest) {
  auto callback = std::make_shared<RecordingCallback>();
  Send(Variant(), callback);
  Send(Variant(), callback, "second");  // replaces the first
  notify_->NotesTimer_Timer();
  notify_->NotesTimer_Timer();
  EXPECT_EQ(callback->calls, (std::vector<std::vector<std::string>>{{"second", kSent}}));
  EXPECT_EQ(channels_.Names().size(), 2u);
}

TEST_F(DispatchTest, CallbackParties) {
  std::vector<std::string> hosts;
  auto component = std::make_shared<RecordingCallback>("CallBack");
  components_.Register(kCallbackProgId, [&](std::string_view host) {
    hosts.emplace_back(host);
    return component;
  });
  auto client = std::make_shared<RecordingCallback>();

  // A host named by the Ex call is used while no object is set, and stays.
  notify_->SendMessageCallBackEx(notes_, emails_, pagers_, Variant(), Variant("pager-host"), "ex");
  notify_->NotesTimer_Timer();
  Send(Variant(), nullptr, "plain");
  notify_->NotesTimer_Timer();
  EXPECT_EQ(hosts, (std::vector<std::string>{"pager-host", "pager-host"}));
  EXPECT_EQ(component->calls,
            (std::vector<std::vector<std::string>>{{"ex", kSent}, {"plain", kSent}}));

  // An object wins over the host, and is released after the run.
  Send(Variant(), client, "obj");
  notify_->NotesTimer_Timer();
  EXPECT_EQ(client->calls.size(), 1u);
  EXPECT_EQ(client.use_count(), 1);
  EXPECT_EQ(hosts.size(), 2u);
}

TEST_F(DispatchTest, CallbackFailuresAreIgnored) {
  // Neither party: no callback at all, and no failure.
  Send(Variant());
  notify_->NotesTimer_Timer();

  // An object without the method: ignored, reference released.
  auto wrong = std::make_shared<RecordingCallback>("SomethingElse");
  Send(Variant(), wrong);
  notify_->NotesTimer_Timer();
  EXPECT_TRUE(wrong->calls.empty());
  EXPECT_EQ(wrong.use_count(), 1);

  // A host whose callback component cannot be created.
  notify_->SendMessageCallBackEx(notes_, emails_, pagers_, Variant(), Variant("nowhere"), "x");
  notify_->NotesTimer_Timer();
  EXPECT_EQ(Log(), "");
}

}  // namespace
}  // namespace qz::testing
