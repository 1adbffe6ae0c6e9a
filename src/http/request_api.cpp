#include "http/request_api.h"

#include <charconv>
#include <memory>
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
  listener.AddStream("/v1/events", kAnyToken, [&port](const ApiCall& call, ChunkSink sink) {
    auto watch = port.WatchOutcomes(call.caller, [sink](const RequestState& ended) {
      sink("event: delivered\ndata: " + RequestStateJson(ended) + "\n\n");
    });
    // A comment at once: the client sees the stream open, and knows that
    // every outcome from now on reaches it.
    sink(": watching\n\n");
    return watch;
  });
}

}  // namespace qz
