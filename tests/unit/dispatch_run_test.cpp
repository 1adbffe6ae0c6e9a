// The dispatch run: which channels run for each group, the log entry, the
// callback and what the run reports of itself (DispatchTrace); the gateway
// test, which runs the row of its index and answers by its rules; an object's
// try in a fleet, against a shared store that is down, leaving the try to
// another daemon or losing its lease mid-run.
#include <gtest/gtest.h>

#include <sstream>

#include "dispatch/journal_store.h"
#include "dispatch_fixture.h"
#include "gateways/channel_frame.h"

namespace qz::testing {
namespace {

TEST_F(DispatchTest, ChannelsLogCallbackAndTraceOfOneGroup) {
  const struct {
    const char* why;
    bool mail;
    Variant gateway;
    // The channels that fail, leaving `fails` in gstrLastError; those that ran, in order.
    const char *failing, *fails, *channels;
    std::string logged;  // the entry after its time stamp; "": none, and the callback says sent
    const char *trace, *gateway_name;
  } cases[] = {
      {"no settings file: the pager terminal", false, Variant(), "", "", "pager", "",
       "group 0: page (pager terminal) to 100: delivered\n", "pager terminal"},
      {"both fail; the trace joins the lines of their texts", true, Variant(" 1 "), "smtp snpp",
       "\r\nrefused\r\nagain", "smtp snpp",
       "Mail Status: \r\nrefused\r\nagain::Page Status: \r\nrefused\r\nagain::\r\n",
       "group 0: mail (SMTP) to a@example.org: failed: refused; again\n"
       "group 0: page (SNPP) to 100: failed: refused; again\n",
       "SNPP"},
      {"a number in no row pages nothing", true, Variant(int16_t{5}), "", "", "smtp",
       "Page Status: ::\r\n",
       "group 0: mail (SMTP) to a@example.org: delivered\n"
       "group 0: page (no gateway (5)) to 100: failed: (no reason given)\n",
       "no gateway (5)"},
      {"a gateway that is no number ends the run", false, Variant("two"), "", "", "",
       "Message Undeliverable. Type mismatch.\r\n\r\n",
       "run raised: Message Undeliverable. Type mismatch.\n", "no gateway (not a number)"},
      {"SMS: the settings load before the page", false, Variant("2"), "sms", "no credit",
       "sms-init sms", "Page Status: no credit::\r\n",
       "group 0: page (SMS) to 100: failed: no credit\n", "SMS"},
      {"SMS settings that do not load: no page", false, Variant(int16_t{2}), "sms-init", "",
       "sms-init", "Page Status: ::\r\n",
       "group 0: loading SMS settings: failed: (no reason given)\n"
       "group 0: page (SMS) to 100: failed: (no reason given)\n",
       "SMS"},
  };
  notes_ = List({List({Variant("m0")})});
  emails_ = List({List({List({Variant("a@example.org")})})});
  pagers_ = List({List({List({Variant("100")})})});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Fresh();
    std::istringstream failing(c.failing);
    for (std::string name; failing >> name;) channels_.failures[name] = c.fails;
    channels_.read_gateway = [&](auto&) { return c.gateway; };
    auto callback = std::make_shared<RecordingCallback>();
    ASSERT_EQ(Run(c.mail ? Options("s|f@example.org||mail|True") : Variant(), callback, c.why),
              kAccepted);
    EXPECT_EQ(channels_.Names(), c.channels);
    const std::string log = Log();  // after its time stamp
    EXPECT_EQ(log.substr(std::min<size_t>(20, log.size())), c.logged);
    const std::string outcome = c.logged.empty() ? kSent : kUndeliverable;
    EXPECT_EQ(callback->calls, (Calls{{c.why, outcome}}));
    EXPECT_EQ(trace_.test_id + "|QzNotes: " + trace_.outcome + "|" + trace_.gateway,
              std::string(c.why) + "|" + outcome + "|" + c.gateway_name);
    EXPECT_EQ(Traced(), c.trace);
  }
}

// Over the two groups of one request: the gateway read afresh before each
// comparison, a group no page runs for keeping the last page result, one run
// per request, one log entry per text and object, and a run-time error
// skipping the groups left.
TEST_F(DispatchTest, GroupsOfOneRequest) {
  int reads = 0;
  channels_.read_gateway = [&](auto&) { return ++reads, Variant("7"); };
  Run();
  EXPECT_EQ(reads, 6) << "three rows, two groups";
  EXPECT_TRUE(Logged(" Page Status: ::Page Status: ::\r\n")) << "group 0 starts from false";
  // Each group reads 9 at the first comparison and 1 at the second.
  channels_.read_gateway = [&](auto&) { return Variant(++reads % 2 ? "9" : "1"); };
  Run();
  EXPECT_EQ(channels_.Names(), "snpp snpp");
  channels_.read_gateway = [](auto&) { return Variant("2"); };
  bool loads = true;  // group 0 loads its settings, group 1 does not
  channels_.paging[2].initialise = [&](const ChannelCall&) { return std::exchange(loads, false); };
  auto callback = std::make_shared<RecordingCallback>();
  Send(Variant(), callback, "replaced");
  Run(Variant(), callback, "second");
  notify_->NotesTimer_Timer();
  EXPECT_EQ(channels_.Names(), "snpp snpp sms");
  EXPECT_EQ(callback->calls, (Calls{{"second", kSent}}));
  const std::string logged = Log();
  Run();  // no group pages now: the first run's text, which this object logged
  EXPECT_EQ(Log(), logged);
  notify_ = std::make_unique<cNotify>(env_, context_.get());
  Run();
  EXPECT_EQ(Log().size(), 2 * logged.size()) << "another object logs it again";
  pagers_ = List({List({List({Variant("100")})})});  // one group fewer than the messages
  channels_.read_gateway = [](auto&) { return Variant("0"); };
  Run();
  EXPECT_TRUE(Logged(" Message Undeliverable. Subscript out of range.\r\n\r\n"));
}

TEST_F(DispatchTest, CallbackParties) {
  std::vector<std::string> hosts;
  auto host = std::make_shared<RecordingCallback>("CallBack");
  components_.Register(kCallbackProgId, [&](std::string_view name) {
    hosts.emplace_back(name);
    return name == "nowhere" ? nullptr : host;
  });
  // The Ex call takes the host as text: Null fails the call, empty means no
  // callback; a host named is used while no object is set, and stays. One
  // whose component cannot be made means no callback, and no failure.
  EXPECT_EQ(SendEx(Variant::Null()).Text(), "Notes Server: Invalid use of Null");
  for (const char* name : {"", "nowhere", "pager-host"}) {
    SendEx(Variant(name), name);
    notify_->NotesTimer_Timer();
  }
  Run(Variant(), nullptr, "plain");
  // An object wins over the host and is let go after the run; one without
  // the method means no callback.
  auto client = std::make_shared<RecordingCallback>(),
       other = std::make_shared<RecordingCallback>("X");
  Run(Variant(), client, "object");
  Run(Variant(), other);
  EXPECT_EQ(hosts, (std::vector<std::string>{"nowhere", "pager-host", "pager-host"}));
  EXPECT_EQ(host->calls, (Calls{{"pager-host", kSent}, {"plain", kSent}}));
  EXPECT_EQ(client->calls, (Calls{{"object", kSent}}));
  EXPECT_EQ(client.use_count() + other.use_count(), 2) << "both let go";
  EXPECT_TRUE(other->calls.empty());
}

// A run's trace keeps its first steps and counts the rest, so that its lines
// and its signal stay small.
TEST_F(DispatchTest, TraceOfManyGroupsKeepsItsFirstStepsAndCountsTheRest) {
  const std::vector<Variant> notes(DispatchTrace::kMaxSteps + 50, List({Variant("m")}));
  notes_ = Variant::Array(notes);
  pagers_ = Variant::Array(std::vector<Variant>(notes.size(), List({List({Variant("7")})})));
  channels_.read_gateway = [](auto&) { return Variant("1"); };
  size_t pages = 0;  // every second one fails
  channels_.paging[1].channel = [&](auto&...) { return ++pages % 2 == 1; };
  Run();
  const std::vector<std::string> details = TraceDetails(trace_);
  ASSERT_EQ(details.size(), DispatchTrace::kMaxSteps + 1);
  EXPECT_EQ(details[99], "group 99: page (SNPP) to 7: failed: (no reason given)");
  EXPECT_EQ(details.back(), "50 more steps not shown, 25 of them failed");
  EXPECT_EQ(pages, notes.size()) << "every group still ran";
}

// A channel handed nobody in a group sent nothing: the trace names no step
// for it unless it failed, which has a reason worth reading.
TEST_F(DispatchTest, TraceNamesNoDeliveryToNobody) {
  // Mail to a group without addresses, a page to a group without pagers.
  emails_ = List({List({List({Variant("a@example.org")})}), Variant()});
  pagers_ = List({List({List({})}), List({List({Variant("101")})})});
  channels_.read_gateway = [](auto&) { return Variant("1"); };
  const std::string mail = "group 0: mail (SMTP) to a@example.org: delivered\n";
  Run(Options("s|f@example.org||mail|True"));
  EXPECT_EQ(Traced(), mail + "group 1: page (SNPP) to 101: delivered\n");
  channels_.failures["snpp"] = "down";  // a failure to nobody still shows
  Run(Options("s|f@example.org||mail|True"));
  EXPECT_EQ(Traced(), mail +
                          "group 0: page (SNPP) to (none): failed: down\n"
                          "group 1: page (SNPP) to 101: failed: down\n");
}

TEST_F(DispatchTest, GatewayTestRunsTheRowOfItsIndexAndAnswersByItsRules) {
  // A scripted channel leaves gstrLastError as it found it unless it fails.
  const struct {
    int16_t index;
    // fails: nullptr when the channel delivers; earlier: gstrLastError before the test;
    // channels: those that ran.
    const char *fails, *status, *earlier, *channels, *answer;
  } cases[] = {
      {2, nullptr, "", "", "sms-init sms", "Message Sent"},
      {2, "left by the loader", "", "", "sms-init", "Failed to initialize SMS Settings"},
      {1, nullptr, "250 Message Sent OK\r\n", "", "snpp", "250 Message Sent OK\r\n"},
      {1, nullptr, "250 OK", "Connection error.\r\n", "snpp", "Connection error.\r\n"},
      {1, "", "550 Error", "", "snpp", "550 Error"},
      {9, nullptr, "", "", "", "Test Failed"},  // no status left from the test before
      {0, "Port busy.\r\n", "", "", "pager", "Port busy.\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    channels_.uses.clear();
    channels_.failures.clear();
    if (c.fails) channels_.failures[c.channels] = c.fails;
    channels_.snpp_status = c.status;
    gstrLastError = c.earlier;
    EXPECT_EQ(notify_->gvarTestGateway(c.index, " 555 ").Text(), c.answer);
    EXPECT_EQ(channels_.Names(), c.channels);
  }
  channels_.paging[1].channel = [](auto&...) -> bool { throw RunTimeError(kErrSubscript); };
  EXPECT_EQ(notify_->gvarTestGateway(1, "555").Text(), "Test Failed. 9 Subscript out of range");
}

// With retries on, a try that leaves a part for later waits for its due
// time whoever calls the timer, and the one outcome at the end still names
// the part an earlier try had refused for good.
TEST_F(DispatchTest, ARetryWaitsUntilDueAndItsOutcomeKeepsEarlierRefusals) {
  folder_.Write("QzNotes.ini", "[Delivery]\nAttempts=2\n");
  notes_ = List({List({Variant("m0")})});
  pagers_ = List({List({List({Variant("100"), Variant("101")})})});
  channels_.read_gateway = [](auto&) { return Variant("1"); };
  int tries = 0;
  channels_.paging[1].channel = [&](const ChannelCall& call, auto&, auto&) {
    const bool first = tries++ == 0;
    using enum PartState;
    if (first)
      call.parts->Add({.channel = "c", .recipient = 0, .state = kPermanent, .text = "550"});
    call.parts->Add({.channel = "c", .recipient = 1, .state = first ? kTransient : kSent});
    return !first;
  };
  auto callback = std::make_shared<RecordingCallback>();
  Run(Variant(), callback);
  notify_->NotesTimer_Timer();
  EXPECT_EQ(tries, 1) << "the retry ran before it was due";
  RequestRecord record;
  uint64_t key = 0;
  std::shared_ptr<DispatchObject> held;
  ASSERT_TRUE(notify_->HandOverWaitingRequest(record, key, held));
  record.next_try_unix_ms = 0;  // due now, in another object
  Fresh();
  notify_->ResumeRequest(record, key, callback);
  notify_->NotesTimer_Timer();
  EXPECT_EQ(tries, 2);
  EXPECT_EQ(callback->calls, (Calls{{"t1", kUndeliverable}}));
  EXPECT_TRUE(Logged(" Page Status: \r\n550::\r\n")) << Log();
}

// What a gateway keeps between calls is a type of its own.
struct BellState {
  int loads = 0;
};

TEST_F(DispatchTest, AGatewayAddedAsOneRowIsRunAndTested) {
  std::string rung;
  channels_.paging.push_back(
      {.number = 3,
       .name = "bell",
       .initialise = [](const ChannelCall& call) { return ++call.kept.Get<BellState>().loads % 2; },
       .channel =
           [&](const ChannelCall& call, const Variant& notes, const Variant& pagers) {
             rung += notes.At(0).Text() + " to " + pagers.At(0).At(0).Text() + ", load " +
                     std::to_string(call.kept.Get<BellState>().loads) + "; ";
             return true;
           }});
  channels_.read_gateway = [](auto&) { return Variant("3"); };
  Run();
  EXPECT_EQ(Traced(),
            "group 0: page (bell) to 100: delivered\n"
            "group 1: loading bell settings: failed: (no reason given)\n"
            "group 1: page (bell) to 101: delivered\n");
  EXPECT_EQ(notify_->gvarTestGateway(3, " 555 ").Text(), "Message Sent");
  EXPECT_EQ(notify_->gvarTestGateway(3, " 555 ").Text(), "Failed to initialize bell Settings");
  EXPECT_EQ(rung, "m0 to 100, load 1; This is Alert Test Message to  555 , load 3; ");
}

struct FleetStore final : JournalStore {
  uint64_t NewKey() override { return 1; }
  bool Put(uint64_t, std::string_view) override { return !down; }
  bool PutFailed(uint64_t, std::string_view) override { return true; }
  void HoldFailed(uint64_t, std::string) override {}
  bool Remove(uint64_t) override { return ++removes > 0; }
  void KeepEverything() override {}
  std::vector<Leftover> TakeOverEarlierRuns() override { return {}; }
  void ReportFailure(std::string_view) const override {}
  size_t LiveCount() const override { return 0; }
  size_t FailedCount() const override { return 0; }
  std::vector<Leftover> Failed() const override { return {}; }
  const std::string& where() const override { return where_; }
  bool RefusesWhenNotDurable() const override { return true; }
  bool StillHolds(uint64_t) override { return holds-- > 0; }
  bool WaitsHere(uint64_t) const override { return waits_here; }
  bool down = false, waits_here = true;
  int holds = 0, removes = 0;
  std::string where_ = "postgresql:///fleet";
};

TEST_F(DispatchTest, AFleetsTryIsRefusedHandedOffOrStoppedWhenItsLeaseIsLost) {
  struct Row {
    bool down, waits_here;
    int holds;  // lease checks answered yes: the group's, then one a recipient
    std::vector<std::string> paged;
    int removes, callbacks;  // and log entries
    std::string line;
  } rows[] = {
      {true, true, 9, {}, 1, 0, "refused: the request journal at postgresql:///fleet"},
      {false, false, 9, {}, 0, 0, "request t1: handed to the fleet: needs 0, this daemon serves 2"},
      {false, true, 2, {"100"}, 0, 0, "request t1: lease lost to another daemon; this run stops"},
      {false, true, 9, {"100", "101"}, 1, 1, ""},
  };
  FleetStore store;
  FleetRole role{{"2"}, [](const RequestRecord& r) { return TryNeeds(r, "0"); }};
  std::vector<std::string> paged, lines;
  env_.journal = &store;
  env_.report = [&](std::string_view line) { lines.emplace_back(line); };
  env_.fleet = &role;
  pagers_ = List({List({List({Variant("100"), Variant("101")})})});
  notes_ = List({List({Variant("m0")})});
  channels_.paging.at(0).channel = [&](const ChannelCall& c, const Variant& n, const Variant& to) {
    return RunChannel({.procedure = "pager",
                       .deliver = [&](const std::string&, const Variant& one) -> Refusal {
                         paged.push_back(one.Text());  // and fails, for the log
                         return Failure{.text = "down " + one.Text()};
                       },
                       .gate = c.gate},
                      n, to);
  };
  for (const Row& row : rows) {
    Fresh();
    std::tie(store.down, store.waits_here, store.holds, store.removes) =
        std::tuple(row.down, row.waits_here, row.holds, 0);
    paged.clear();
    lines = {""};
    auto callback = std::make_shared<RecordingCallback>();
    try {
      Send(Variant(), callback);
    } catch (const JournalUnavailable& e) {
      lines.back() = std::string("refused: ") + e.what();
    }
    notify_->NotesTimer_Timer();
    EXPECT_EQ(paged, row.paged) << row.line;
    EXPECT_EQ(std::tuple(store.removes, callback->calls.size()),
              std::tuple(row.removes, size_t(row.callbacks)))
        << row.line;
    EXPECT_EQ(lines.back().substr(0, row.line.size()), row.line);
    EXPECT_EQ(Logged("down 100"), row.callbacks > 0) << row.line;
  }
}

}  // namespace
}  // namespace qz::testing
