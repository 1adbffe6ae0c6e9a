// What the parts of the HTTP front door share: who calls and with which
// rights, one API call and how it is answered, a streamed answer, and the
// port through which the door reaches the server. The door sits above the
// request machinery but below the D-Bus boundary, so the server hands it a
// RequestPort that it implements with the same served classes, limits,
// journal and outcome path as the bus. Plain values and interfaces.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "http/http_answer.h"

namespace qz {

// A token's rights, as QzTokens.ini names them ("send,read").
enum class Right : unsigned {
  kSend = 1u << 0,      // POST /v1/requests, the Alertmanager receiver
  kTest = 1u << 1,      // POST /v1/gateways/{n}/test
  kRead = 1u << 2,      // every request's state and events, /v1/status
  kSettings = 1u << 3,  // settings operations
  kJournal = 1u << 4,   // dead letters: list, retry, clear
};

// Who may call a route: anybody, any valid token, or a token holding all
// of `rights`.
struct Access {
  bool needs_token = true;
  unsigned rights = 0;
};
inline constexpr Access kPublicAccess{false, 0};
inline constexpr Access kAnyToken{true, 0};
constexpr Access Needs(Right right) { return {true, static_cast<unsigned>(right)}; }

struct ApiCaller {
  std::string token;  // the token's name in QzTokens.ini
  unsigned rights = 0;
  std::string peer;  // the client's address, for log lines
  bool Has(Right right) const { return (rights & static_cast<unsigned>(right)) != 0; }
};

// One authorised call, owned, so that it may be answered later.
struct ApiCall {
  std::string method;                 // "GET", "POST"
  std::string path;                   // "/v1/requests/17"
  std::vector<std::string> captures;  // the route's "{}" segments, in order
  std::string body;                   // within the body limit
  ApiCaller caller;
};

// Answers the call exactly once, from any thread.
using ApiReply = std::function<void(HttpAnswer answer)>;
using ApiHandler = std::function<void(ApiCall call, ApiReply reply)>;

// A streamed answer (server-sent events). The sink writes one chunk to the
// client and may be called from any thread until the subscription the
// opener returned is dropped; the listener drops it when the client goes.
using ChunkSink = std::function<void(std::string chunk)>;
using StreamOpener = std::function<std::shared_ptr<void>(const ApiCall& call, ChunkSink sink)>;

// An RFC 9457 problem body ("application/problem+json"): status, title,
// detail and, for a fault in a request body, the JSON path of the fault.
HttpAnswer Problem(unsigned status, std::string_view title, std::string_view detail,
                   std::string_view json_path = {});

// The request of SendMessageCallBackEx, as a remote agent gives it.
struct NotificationGroup {
  std::vector<std::string> messages;
  // Parallel to the messages: the recipients of message k.
  std::vector<std::vector<std::string>> emails;
  std::vector<std::vector<std::string>> pagers;
};

struct NotificationRequest {
  std::string test_id;
  std::vector<NotificationGroup> groups;
  std::string subject;  // the mail options: e-mail only when the subject is set
  std::string mail_from;
  std::string profile;
  std::string smtp_server;
  std::string callback;  // an http(s) URL, or empty for none
};

struct SubmitResult {
  unsigned status = 202;  // 202 accepted; otherwise the HTTP status of the refusal
  std::string id;         // the request's identifier, when accepted
  std::string text;       // the operation's answer text, or why it was refused
};

// One channel step of a request's run: which group, which channel, to whom,
// and why it failed when it did.
struct RequestStep {
  long group = 0;
  std::string channel;
  std::string recipients;
  bool delivered = false;
  std::string reason;
};

// What became of a request the door accepted.
struct RequestState {
  std::string id;
  std::string test_id;
  // "pending", "retrying", "delivered", "undeliverable", "handed-off" (to
  // another daemon of the fleet)
  std::string state;
  std::string outcome;  // the run's outcome text, once it ended
  std::vector<RequestStep> steps;
};

// What the server offers the door. Every method may be called from the
// listener's thread and must not wait there for deliveries or the bus.
// The request API adds what else it needs (states, events, gateway tests).
class RequestPort {
 public:
  virtual ~RequestPort() = default;
  // Runs the request as SendMessageCallBackEx would, on behalf of `caller`;
  // `done` gets the answer once the request is in the journal (or refused).
  virtual void Submit(NotificationRequest request, const ApiCaller& caller,
                      std::function<void(SubmitResult)> done) = 0;
  // The state of request `id`, or nothing when there is no such request or
  // `caller` may not read it (its own requests; any with kRead).
  virtual void Lookup(std::string id, const ApiCaller& caller,
                      std::function<void(std::optional<RequestState>)> done) {
    (void)id, (void)caller;
    done(std::nullopt);
  }
  // Every run that ends from now on and that `caller` may read goes to
  // `watcher`, from any thread, until the answer is dropped.
  using OutcomeWatcher = std::function<void(const RequestState& ended)>;
  virtual std::shared_ptr<void> WatchOutcomes(const ApiCaller& caller, OutcomeWatcher watcher) {
    (void)caller, (void)watcher;
    return nullptr;
  }
  // Runs gvarTestGateway: `done` gets 200 with its answer text, or a refusal.
  virtual void TestGateway(int16_t index, std::string number, const ApiCaller& caller,
                           std::function<void(SubmitResult)> done) {
    (void)index, (void)number, (void)caller;
    done({501, {}, "no gateway test here"});
  }
};

}  // namespace qz
