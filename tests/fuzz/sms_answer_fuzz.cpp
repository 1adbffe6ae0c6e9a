// An SMS web gateway's HTTP answers, status line, headers (Retry-After
// among them) and body, any bytes, through the real gateway request
// component over a loopback connection, and the checks made on them.
#include <fuzzer/FuzzedDataProvider.h>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "automation/run_time_error.h"
#include "dispatch/retry_schedule.h"
#include "gateways/sms/http_failure.h"
#include "gateways/sms/sms_gateway_request.h"
#include "gateways/sms/sms_request_text.h"
#include "platform/utf8.h"
#include "scripted_peer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qz::fuzz::ScriptedServer server;
  FuzzedDataProvider input(data, size);
  const bool post = input.ConsumeBool();
  const std::string response = input.ConsumeRandomLengthString(32);
  const std::string retry_after = input.ConsumeRandomLengthString(48);
  std::vector<std::string> answer = qz::fuzz::Pieces(input, 8, 2048);

  const auto now = std::chrono::system_clock::now();
  const auto wait = qz::RetryAfter(retry_after, now);
  if (wait && wait->count() < 0) __builtin_trap();
  // The wait is honoured up to the ceiling by the retry schedule.
  if (qz::RetryDelay(qz::DeliveryPolicy{.attempts = 3}, 1, wait, 0).count() < 0) __builtin_trap();

  server.Serve(answer, [&] {
    qz::SmsGatewayLimits limits;
    limits.connect = std::chrono::milliseconds(2000);
    limits.total = std::chrono::milliseconds(3000);
    limits.body_bytes = 1024;  // small, so that cutting an answer is reached too
    qz::SmsGatewayRequest request(limits);
    try {
      request.SetProperty("Protocol", qz::Variant("http"));
      request.SetProperty("IPAddress", qz::Variant("127.0.0.1:" + std::to_string(server.port())));
      request.SetProperty("Connect", qz::Variant("/send"));
      request.SetProperty("Method", qz::Variant(post ? "POST" : "GET"));
      std::vector<qz::Variant> args = {qz::Variant::Array({}),
                                       qz::Variant::Array({qz::Variant("to=1&text=fuzz")})};
      const std::string body = request.CallMethod("SendRequest", args).Text();
      if (qz::ValidUtf8(body) != body) __builtin_trap();
      qz::SmsResponseOccurs(response, body);
      qz::HttpStatusKind(request.LastStatus());
      if (auto asked = request.LastRetryAfter(); asked && asked->count() < 0) __builtin_trap();
    } catch (const qz::RunTimeError&) {
      // No answer to be had: the channel reports it and moves on.
    }
  });
  return 0;
}
