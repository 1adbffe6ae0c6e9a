#include "server/front_door_port.h"

#include <deque>
#include <list>
#include <mutex>
#include <unordered_map>

#include "automation/run_time_error.h"
#include "dispatch/fleet_role.h"
#include "http/request_json.h"
#include "platform/random_bytes.h"
#include "server/delivery_report.h"
#include "server/heap_trim.h"
#include "server/served_classes.h"
#include "server/server_log.h"
#include "server/smtp_allow_list.h"

namespace qz {
namespace {

constexpr std::string_view kDoorAsynchAnswer = "Notes Server: Asynch mode";
constexpr std::string_view kDoorMessageSent = "Message Sent";
// A request left to another daemon of the fleet: this one cannot tell how it ends.
constexpr std::string_view kHandedOffText =
    "handed to a daemon of the fleet that serves its gateways; its outcome is in that daemon's "
    "log";

// 128 random bits in hex: with the journal key in front ("42-..."), a
// request's id names its journal entry and keeps other tokens from
// guessing it. None when the kernel gives no random bytes.
std::optional<std::string> DoorIdSecret() {
  unsigned char bytes[16] = {};
  if (!FillRandom(bytes)) return std::nullopt;
  static constexpr char kHexDigits[] = "0123456789abcdef";
  std::string secret;
  for (unsigned char byte : bytes) {
    secret += kHexDigits[byte >> 4];
    secret += kHexDigits[byte & 15];
  }
  return secret;
}

RequestState DoorEndedState(std::string id, const DispatchTrace& trace) {
  RequestState state{std::move(id),
                     trace.test_id,
                     trace.outcome == kDoorMessageSent ? "delivered" : "undeliverable",
                     trace.outcome,
                     {}};
  for (const ChannelStep& step : trace.steps)
    state.steps.push_back({step.group, step.channel, step.recipients, step.delivered, step.reason});
  return state;
}

}  // namespace

// Requests the door accepted, by id, and who watches runs end. Ended ones
// are dropped oldest first past the bounds.
struct FrontDoorPort::Book {
  struct Tracked {
    std::string token;
    std::string test_id;
    std::weak_ptr<ObjectEntry> entry;  // while its run has not ended
    std::optional<RequestState> ended;
  };
  struct Watcher {
    std::string token;
    bool reads_all = false;
    OutcomeWatcher tell;
  };
  // Drops its watcher; the book's lock makes sure it is never told after.
  struct Watch {
    Watch(std::shared_ptr<Book> watched, std::list<Watcher>::iterator watcher)
        : book(std::move(watched)), at(watcher) {}
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;
    ~Watch() {
      std::lock_guard lock(book->mutex);
      book->watchers.erase(at);
    }
    std::shared_ptr<Book> book;
    std::list<Watcher>::iterator at;
  };

  void Ended(const std::string& token, RequestState state) {
    std::lock_guard lock(mutex);
    for (Watcher& watcher : watchers)
      if (watcher.reads_all || (!token.empty() && watcher.token == token)) watcher.tell(state);
    if (token.empty()) return;  // a bus caller's: nobody looks it up here
    auto found = requests.find(state.id);
    if (found == requests.end()) return;
    ended.emplace_back(state.id, std::chrono::steady_clock::now());
    found->second.ended = std::move(state);
    found->second.entry.reset();
    Prune();
  }
  void Prune() {
    const auto too_old = std::chrono::steady_clock::now() - kKeptFor;
    while (!ended.empty() && (ended.size() > kKeptEnded || ended.front().second < too_old)) {
      requests.erase(ended.front().first);
      ended.pop_front();
    }
  }

  std::mutex mutex;
  std::unordered_map<std::string, Tracked> requests;
  std::deque<std::pair<std::string, std::chrono::steady_clock::time_point>> ended;
  std::list<Watcher> watchers;
};

FrontDoorPort::FrontDoorPort(ObjectCalls& objects, CallAdmission& admission,
                             GDBusConnection* connection, const ServerEnvironment& env)
    : objects_(objects),
      admission_(admission),
      connection_(connection),
      env_(env),
      book_(std::make_shared<Book>()) {
  objects_.ObserveOutcomes([book = book_](const ObjectEntry& entry, const DispatchTrace& trace) {
    book->Ended({}, DoorEndedState("bus:" + std::string(ShortPath(entry.path)), trace));
  });
}

void FrontDoorPort::Submit(NotificationRequest request, const ApiCaller& caller,
                           std::function<void(SubmitResult)> done) {
  const std::string who = "http:" + caller.token;
  CallerLedger::Admission admitted = admission_.AdmitNamed(who, true, RequestTextBytes(request));
  if (!admitted.ticket)
    return done({429, {}, LimitMessage(admission_.limits(), *admitted.refused)});
  std::optional<std::string> secret = DoorIdSecret();
  if (!secret) return done({503, {}, "no random numbers for the request's id"});
  std::vector<Variant> args = RequestArguments(request);
  // A caller from another machine names SMTP servers as an outsider on the
  // system bus does: only the allowed ones.
  if (auto refusal = SmtpServerRefusal(args[3], env_.folder, env_.registry)) {
    ServerLog("http " + caller.token + ": SendMessageCallBackEx: refused: " + *refusal);
    return done({403, {}, *refusal});
  }
  std::shared_ptr<ObjectEntry> entry;
  if (!objects_.TakeUnlessStopping([&] { entry = objects_.AddUnowned(NotifyClass()); }))
    return done({503, {}, "the server is stopping"});
  entry->apartment->Post([&objects = objects_, connection = connection_, metrics = env_.metrics,
                          book = book_, entry, args = std::move(args), secret = std::move(*secret),
                          token = caller.token, ticket = std::move(*admitted.ticket),
                          done = std::move(done)]() mutable {
    static const Operation& operation = *NotifyClass().FindByName("SendMessageCallBackEx");
    Variant result;
    try {
      objects.MakeObject(*entry);
      DeliveryInProgress busy(&entry->apartment->deliveries());
      result = operation.run(*entry->object, args);
    } catch (const JournalUnavailable& e) {
      objects.ReleaseUnowned(*entry, "http request refused");
      ServerLog("http " + token + ": SendMessageCallBackEx: refused: " + e.what());
      return done({503, {}, e.what()});
    } catch (...) {
      objects.ReleaseUnowned(*entry, "http request failed");
      return done({500, {}, "the request could not be run"});
    }
    const std::string who(ShortPath(entry->path));
    const std::string text = result.Text();
    ServerLog(who + ": SendMessageCallBackEx " + args[5].Text() + ": " + text + " (http " + token +
              ")");
    if (text != kDoorAsynchAnswer) {
      objects.ReleaseUnowned(*entry, "http request not accepted");
      return done({422, {}, text});
    }
    if (metrics) metrics->Accepted(Boundary::kHttp);
    // Accepted and left to another daemon of the fleet, which runs it: this
    // one cannot tell how it ends.
    if (!entry->object->HasPendingWork()) {
      objects.ReleaseUnowned(*entry, "http request handed to the fleet");
      const std::string id = "fleet-" + secret;
      {
        std::lock_guard lock(book->mutex);
        book->requests[id] = {
            token,
            args[5].Text(),
            {},
            RequestState{id, args[5].Text(), "handed-off", std::string(kHandedOffText), {}}};
        book->ended.emplace_back(id, std::chrono::steady_clock::now());
        book->Prune();
      }
      return done({202, id, text});
    }
    const std::string id = std::to_string(entry->object->PendingJournalKey()) + "-" + secret;
    {
      std::lock_guard lock(book->mutex);
      book->requests[id] = {token, args[5].Text(), entry, std::nullopt};
    }
    entry->request = std::move(ticket);  // counted until the run ends
    entry->object->SetOutcomeSink(
        [&objects, connection, book, entry, id, token, who](const DispatchTrace& trace) {
          ReportDelivery(connection, who, trace, " (http)");
          book->Ended(token, DoorEndedState(id, trace));
          ReturnTicket(entry->request, *entry->apartment);
          objects.ReleaseUnowned(*entry, "http request done");
        });
    done({202, id, text});
    // Taken while the stop was being decided: done now, as everything pending is.
    if (objects.stopping()) entry->object->FinishPendingWork();
  });
}

void FrontDoorPort::Lookup(std::string id, const ApiCaller& caller,
                           std::function<void(std::optional<RequestState>)> done) {
  std::shared_ptr<ObjectEntry> entry;
  std::optional<RequestState> state;
  {
    std::lock_guard lock(book_->mutex);
    book_->Prune();
    auto found = book_->requests.find(id);
    if (found != book_->requests.end() &&
        (found->second.token == caller.token || caller.Has(Right::kRead))) {
      state = found->second.ended;
      if (!state) state = RequestState{id, found->second.test_id, "pending", {}, {}};
      entry = found->second.entry.lock();
    }
  }
  if (!entry) return done(std::move(state));
  // Only its apartment knows whether a try failed and the next one waits.
  entry->apartment->Post([entry, state = std::move(state), done = std::move(done)]() mutable {
    if (entry->object && entry->object->WaitsForRetry()) state->state = "retrying";
    done(std::move(state));
  });
}

std::shared_ptr<void> FrontDoorPort::WatchOutcomes(const ApiCaller& caller,
                                                   OutcomeWatcher watcher) {
  std::list<Book::Watcher>::iterator at;
  {
    std::lock_guard lock(book_->mutex);
    at = book_->watchers.insert(book_->watchers.end(),
                                {caller.token, caller.Has(Right::kRead), std::move(watcher)});
  }
  return std::make_shared<Book::Watch>(book_, at);
}

void FrontDoorPort::TestGateway(int16_t index, std::string number, const ApiCaller& caller,
                                std::function<void(SubmitResult)> done) {
  CallerLedger::Admission admitted =
      admission_.AdmitNamed("http:" + caller.token, false, number.size());
  if (!admitted.ticket)
    return done({429, {}, LimitMessage(admission_.limits(), *admitted.refused)});
  std::shared_ptr<ObjectEntry> entry;
  if (!objects_.TakeUnlessStopping([&] { entry = objects_.AddUnowned(NotifyClass()); }))
    return done({503, {}, "the server is stopping"});
  entry->apartment->Post([&objects = objects_, entry, index, number = std::move(number),
                          token = caller.token, ticket = std::move(*admitted.ticket),
                          done = std::move(done)]() mutable {
    static const Operation& operation = *NotifyClass().FindByName("gvarTestGateway");
    std::vector<Variant> args{Variant(index), Variant(number)};
    SubmitResult answer{200, {}, {}};
    try {
      objects.MakeObject(*entry);
      // The test waits on its gateway: the pool seats new objects elsewhere.
      DeliveryInProgress busy(&entry->apartment->deliveries());
      answer.text = operation.run(*entry->object, args).Text();
    } catch (const RunTimeError& e) {
      answer = {500, {}, e.description()};
    } catch (...) {
      answer = {500, {}, "the test could not be run"};
    }
    ServerLog(std::string(ShortPath(entry->path)) + ": gvarTestGateway " + std::to_string(index) +
              ": " + answer.text + " (http " + token + ")");
    objects.ReleaseUnowned(*entry, "http gateway test done");
    std::optional<CallerLedger::Ticket> returned(std::move(ticket));
    ReturnTicket(returned, *entry->apartment);
    done(std::move(answer));
  });
}

}  // namespace qz
