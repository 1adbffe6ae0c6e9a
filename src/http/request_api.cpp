#include "http/request_api.h"

#include <charconv>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "components/json_text.h"

namespace qz {
namespace {

constexpr std::string_view kApiJsonType = "application/json";

HttpAnswer ApiJsonAnswer(unsigned status, std::string body) {
  return {status, std::string(kApiJsonType), std::move(body) + "\n"};
}

// The title of a refusal the port answered, by its status.
std::string_view ApiRefusalTitle(unsigned status) {
  switch (status) {
    case 403:
      return "forbidden";
    case 422:
      return "request not accepted";
    case 429:
      return "over a limit";
    case 503:
      return "server stopping";
    default:
      return "request failed";
  }
}

HttpAnswer ApiBodyRefusal(const BodyFault& fault) {
  return Problem(400, "invalid request body", fault.detail, fault.path);
}

void ApiPostRequest(RequestPort& port, const JsonBodyLimits& limits, ApiCall call, ApiReply reply) {
  BodyFault fault;
  std::optional<NotificationRequest> request = ParseRequestBody(call.body, limits, fault);
  if (!request) return reply(ApiBodyRefusal(fault));
  port.Submit(std::move(*request), call.caller, [reply = std::move(reply)](SubmitResult result) {
    if (result.status != 202)
      return reply(Problem(result.status, ApiRefusalTitle(result.status), result.text));
    reply(ApiJsonAnswer(
        202, "{\"id\":" + JsonString(result.id) + ",\"status\":" + JsonString(result.text) + "}"));
  });
}

void ApiGetRequest(RequestPort& port, ApiCall call, ApiReply reply) {
  std::string id = call.captures.empty() ? std::string() : call.captures[0];
  port.Lookup(
      std::move(id), call.caller, [reply = std::move(reply)](std::optional<RequestState> state) {
        if (!state)
          return reply(
              Problem(404, "no such request", "no request of this id that this token may read"));
        reply(ApiJsonAnswer(200, RequestStateJson(*state)));
      });
}

void ApiTestGateway(RequestPort& port, const JsonBodyLimits& limits, ApiCall call, ApiReply reply) {
  const std::string_view index_text =
      call.captures.empty() ? std::string_view() : std::string_view(call.captures[0]);
  int16_t index = 0;
  const auto [end, error] =
      std::from_chars(index_text.data(), index_text.data() + index_text.size(), index);
  if (error != std::errc() || end != index_text.data() + index_text.size() || index_text.empty())
    return reply(Problem(404, "no such gateway", "a gateway is named by a 16-bit number"));
  BodyFault fault;
  std::optional<std::string> number = ParseGatewayTestBody(call.body, limits, fault);
  if (!number) return reply(ApiBodyRefusal(fault));
  port.TestGateway(
      index, std::move(*number), call.caller, [reply = std::move(reply)](SubmitResult result) {
        if (result.status != 200)
          return reply(Problem(result.status, ApiRefusalTitle(result.status), result.text));
        reply(ApiJsonAnswer(200, "{\"answer\":" + JsonString(result.text) + "}"));
      });
}

// The subscribers of GET /v1/events, grouped by what they may read: one
// watch on the port per group, and each outcome formatted once for all of
// its group's streams. Safe from any thread. The port's lock is taken
// before this one (the port tells under its lock), never after.
class EventSubscribers : public std::enable_shared_from_this<EventSubscribers> {
 public:
  explicit EventSubscribers(RequestPort& port) : port_(port) {}

  std::shared_ptr<void> Subscribe(const ApiCaller& caller, ChunkSink sink) {
    // Tokens with read see every outcome; the others their own token's.
    std::string group = caller.Has(Right::kRead) ? "*" : "=" + caller.token;
    uint64_t watch_id = 0;
    {
      std::lock_guard lock(mutex_);
      watch_id = ++last_id_;
    }
    std::shared_ptr<void> watch = port_.WatchOutcomes(
        caller, [weak = weak_from_this(), group, watch_id](const RequestState& ended) {
          if (auto self = weak.lock()) self->Tell(group, watch_id, ended);
        });
    uint64_t id = 0;
    {
      std::lock_guard lock(mutex_);
      Group& members = groups_[group];
      if (!members.watch) {
        members.watch = std::exchange(watch, nullptr);
        members.watch_id = watch_id;
      }
      id = ++last_id_;
      members.sinks.emplace(id, sink);
    }
    watch.reset();  // another subscriber's watch already serves the group
    // A comment at once: the client sees the stream open, and knows that
    // every outcome from now on reaches it.
    sink(": watching\n\n");
    return std::make_shared<Member>(shared_from_this(), std::move(group), id);
  }

 private:
  struct Group {
    std::shared_ptr<void> watch;
    uint64_t watch_id = 0;  // only this watch tells the group: no outcome twice
    std::map<uint64_t, ChunkSink> sinks;
  };
  // One subscription; it leaves its group when dropped.
  struct Member {
    Member(std::shared_ptr<EventSubscribers> of, std::string in, uint64_t as)
        : subscribers(std::move(of)), group(std::move(in)), id(as) {}
    Member(const Member&) = delete;
    Member& operator=(const Member&) = delete;
    ~Member() { subscribers->Leave(group, id); }
    std::shared_ptr<EventSubscribers> subscribers;
    std::string group;
    uint64_t id;
  };

  void Tell(const std::string& group, uint64_t watch_id, const RequestState& ended) {
    std::lock_guard lock(mutex_);
    auto found = groups_.find(group);
    if (found == groups_.end() || found->second.watch_id != watch_id) return;
    const std::string chunk = "event: delivered\ndata: " + RequestStateJson(ended) + "\n\n";
    for (auto& [id, sink] : found->second.sinks) sink(chunk);
  }
  void Leave(const std::string& group, uint64_t id) {
    std::shared_ptr<void> unwatched;  // dropped after the lock: it takes the port's
    std::lock_guard lock(mutex_);
    auto found = groups_.find(group);
    if (found == groups_.end()) return;
    found->second.sinks.erase(id);
    if (!found->second.sinks.empty()) return;
    unwatched = std::move(found->second.watch);
    groups_.erase(found);
  }

  RequestPort& port_;
  std::mutex mutex_;
  std::map<std::string, Group> groups_;
  uint64_t last_id_ = 0;
};

}  // namespace

std::string RequestStateJson(const RequestState& state) {
  std::string json = "{\"id\":" + JsonString(state.id) +
                     ",\"testId\":" + JsonString(state.test_id) +
                     ",\"state\":" + JsonString(state.state) +
                     ",\"outcome\":" + JsonString(state.outcome) + ",\"steps\":[";
  bool first = true;
  for (const RequestStep& step : state.steps) {
    json += std::exchange(first, false) ? "{" : ",{";
    json += "\"group\":" + std::to_string(step.group) + ",\"channel\":" + JsonString(step.channel) +
            ",\"recipients\":" + JsonString(step.recipients) +
            ",\"delivered\":" + (step.delivered ? "true" : "false") +
            ",\"reason\":" + JsonString(step.reason) + "}";
  }
  return json + "]}";
}

void AddRequestApi(HttpListener& listener, RequestPort& port, const JsonBodyLimits& limits) {
  listener.AddRoute("POST", "/v1/requests", Needs(Right::kSend),
                    [&port, limits](ApiCall call, ApiReply reply) {
                      ApiPostRequest(port, limits, std::move(call), std::move(reply));
                    });
  listener.AddRoute("GET", "/v1/requests/{}", kAnyToken, [&port](ApiCall call, ApiReply reply) {
    ApiGetRequest(port, std::move(call), std::move(reply));
  });
  listener.AddRoute("POST", "/v1/gateways/{}/test", Needs(Right::kTest),
                    [&port, limits](ApiCall call, ApiReply reply) {
                      ApiTestGateway(port, limits, std::move(call), std::move(reply));
                    });
  listener.AddStream("/v1/events", kAnyToken,
                     [subscribers = std::make_shared<EventSubscribers>(port)](const ApiCall& call,
                                                                              ChunkSink sink) {
                       return subscribers->Subscribe(call.caller, std::move(sink));
                     });
}

}  // namespace qz
