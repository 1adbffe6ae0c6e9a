#include "client/remote_runs.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <optional>

#include "client/api_json.h"
#include "client/http_api_client.h"
#include "client/quoted_string.h"
#include "client/send_advice.h"
#include "client/server_views.h"
#include "client/test_gateway_answer.h"
#include "client/token_file.h"
#include "client/user_report.h"

namespace qz::client {
namespace {

// As long as the bus's own call limit.
constexpr int kRemoteCallSeconds = 25;

std::optional<ApiTarget> TargetOf(const GlobalOptions& global, Console console) {
  TokenRead token = ReadTokenFile(global.token_file);
  if (!token.error.empty()) {
    ReportUsage(console, global.json, token.error);
    return std::nullopt;
  }
  std::string url = global.url;
  while (url.ends_with('/')) url.pop_back();
  return ApiTarget{url, token.token, global.cacert, global.insecure};
}

// No answer is a failure to reach the server (2, as a bus failure); an
// answer that refuses is the server's refusal (1).
ExitStatus ReportUnanswered(const ApiAnswer& answer, const GlobalOptions& global, Console console) {
  if (answer.status == 0) {
    ReportProblem(console, global.json, "http",
                  "no answer from " + global.url + ": " + answer.failure);
    return kExitUsage;
  }
  ReportProblem(console, global.json, "refused",
                "the server refused: " + RefusalText(answer.status, answer.body));
  return kExitFailed;
}

void PrintSendAnswer(Console console, bool json, const std::string& answer,
                     const std::string& test_id, const std::string* callback) {
  if (!json) {
    console.out << (callback ? *callback : answer) << '\n';
    return;
  }
  std::string line = "{\"answer\":" + Quoted(answer) + ",\"testId\":" + Quoted(test_id);
  if (callback) line += ",\"callback\":" + Quoted(*callback);
  console.out << line << "}\n";
}

// Waits for the outcome of request `id` on the open stream.
ExitStatus AwaitDelivery(EventStream& events, const std::string& id, const std::string& answer,
                         const std::string& test_id, const GlobalOptions& global, int seconds,
                         Console console) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  ServerEvent event;
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const EventStream::Wait got =
        events.Next(event, static_cast<int>(std::max<long long>(left.count(), 0)), -1);
    if (got == EventStream::Wait::kClosed) {
      ReportProblem(console, global.json, "http",
                    "the server's event stream ended before the outcome: " + events.failure());
      return kExitUsage;
    }
    if (got != EventStream::Wait::kEvent) {
      ReportProblem(
          console, global.json, "timeout",
          "no callback within " + std::to_string(seconds) + " s (test id " + test_id + ")");
      return kExitUsage;
    }
    if (event.name != "delivered") continue;
    const std::optional<Delivery> delivery = DeliveryFromJson(event.data);
    if (!delivery || delivery->id != id) continue;
    // The callback a bus client gets carries the outcome so.
    const std::string message = "QzNotes: " + delivery->outcome;
    PrintSendAnswer(console, global.json, answer, test_id, &message);
    const ExitStatus status = ExitForCallback(message);
    if (status == kExitOk) return status;
    for (const std::string& line : delivery->details)
      if (!line.ends_with(": delivered")) ReportProblem(console, global.json, "step", line);
    return status;
  }
}

// SIGINT and SIGTERM as a descriptor the event wait watches, so Ctrl+C ends
// `watch` as a normal end. The mask is restored, and what arrived is taken,
// when it goes.
class InterruptFd {
 public:
  InterruptFd() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set_, &old_);
    fd_ = signalfd(-1, &set_, SFD_CLOEXEC | SFD_NONBLOCK);
  }
  ~InterruptFd() {
    signalfd_siginfo info;
    while (fd_ >= 0 && read(fd_, &info, sizeof info) == sizeof info) {
    }
    if (fd_ >= 0) close(fd_);
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  InterruptFd(const InterruptFd&) = delete;
  InterruptFd& operator=(const InterruptFd&) = delete;
  int fd() const { return fd_; }

 private:
  sigset_t set_{};
  sigset_t old_{};
  int fd_ = -1;
};

}  // namespace

ExitStatus RunRemoteSend(const GlobalOptions& global, const SendCommand& send, Console console) {
  if (send.mail.prefer_smtp) {
    ReportUsage(console, global.json,
                "--prefer-smtp is D-Bus only: over --url the server chooses the mail route");
    return kExitUsage;
  }
  if (!send.callback_host.empty() && !send.callback_host.starts_with("https://") &&
      !send.callback_host.starts_with("http://")) {
    ReportUsage(console, global.json,
                "with --url, --callback-host takes the http(s) URL the server calls back");
    return kExitUsage;
  }
  const std::optional<ApiTarget> target = TargetOf(global, console);
  if (!target) return kExitUsage;
  for (const std::string& w : SendWarnings(send)) ReportWarning(console, global.json, w);
  std::string test_id = send.test_id;
  if (test_id.empty()) test_id = std::string("qznotes-") + CharPtr(g_uuid_string_random()).get();

  // Subscribed before the request exists, so its outcome cannot be missed.
  std::optional<EventStream> events;
  if (send.wait) {
    events.emplace(*target);
    if (std::optional<ApiAnswer> refused = events->Open(kRemoteCallSeconds))
      return ReportUnanswered(*refused, global, console);
  }
  const std::string body = RequestJson(send, test_id);
  const ApiAnswer answer = CallApi(*target, "POST", "/v1/requests", &body, kRemoteCallSeconds);
  std::string text;
  std::string id;
  if (answer.status == 202) {
    text = JsonText(answer.body, "status").value_or("");
    id = JsonText(answer.body, "id").value_or("");
  } else if (answer.status == 422) {
    // The operation answered another text than its acceptance.
    text = JsonText(answer.body, "detail").value_or("");
  } else {
    return ReportUnanswered(answer, global, console);
  }
  const ExitStatus accepted =
      answer.status == 202 && text == kAcceptedAnswer ? kExitOk : kExitFailed;
  if (!send.wait || accepted != kExitOk) {
    PrintSendAnswer(console, global.json, text, test_id, nullptr);
    return accepted;
  }
  return AwaitDelivery(*events, id, text, test_id, global, send.timeout_seconds, console);
}

ExitStatus RunRemoteStatus(const GlobalOptions& global, const StatusCommand&, Console console) {
  const std::optional<ApiTarget> target = TargetOf(global, console);
  if (!target) return kExitUsage;
  const ApiAnswer answer = CallApi(*target, "GET", "/v1/status", nullptr, kRemoteCallSeconds);
  if (answer.nobody_listens) {
    ReportProblem(console, global.json, "not-running",
                  "the server is not running: nothing listens at " + global.url);
    return kExitFailed;
  }
  if (answer.status != 200) return ReportUnanswered(answer, global, console);
  const VariantPtr status = StatusFromJson(answer.body);
  if (!status) {
    ReportProblem(console, global.json, "answer", "the server's status is no JSON object");
    return kExitUsage;
  }
  PrintStatus(status.get(), global.json, console.out);
  return kExitOk;
}

ExitStatus RunRemoteTestGateway(const GlobalOptions& global, const TestGatewayCommand& test,
                                Console console) {
  const std::optional<ApiTarget> target = TargetOf(global, console);
  if (!target) return kExitUsage;
  const std::string path = "/v1/gateways/" + std::to_string(test.index) + "/test";
  const std::string body = "{\"number\":" + Quoted(test.number) + "}";
  // As over the bus: by default as long as the gateway takes.
  const ApiAnswer answer = CallApi(*target, "POST", path, &body, test.timeout_seconds);
  if (answer.status != 200) return ReportUnanswered(answer, global, console);
  const std::optional<std::string> text = JsonText(answer.body, "answer");
  if (!text) {
    ReportProblem(console, global.json, "answer", "gvarTestGateway answered no text");
    return kExitUsage;
  }
  if (global.json) {
    console.out << "{\"answer\":" << Quoted(*text) << "}\n";
  } else {
    console.out << AnswerLine(*text) << '\n';
  }
  return ExitForTestAnswer(test.index, *text);
}

ExitStatus RunRemoteWatch(const GlobalOptions& global, const WatchCommand& watch, Console console) {
  const std::optional<ApiTarget> target = TargetOf(global, console);
  if (!target) return kExitUsage;
  const InterruptFd interrupt;  // before the transfer's threads start
  EventStream events(*target);
  if (std::optional<ApiAnswer> refused = events.Open(kRemoteCallSeconds))
    return ReportUnanswered(*refused, global, console);
  console.err << "qznotes: watching deliveries of " << global.url << " (Ctrl+C ends)\n"
              << std::flush;
  int remaining = watch.count;
  ServerEvent event;
  while (true) {
    switch (events.Next(event, -1, interrupt.fd())) {
      case EventStream::Wait::kInterrupted:
        return kExitOk;
      case EventStream::Wait::kClosed:
        console.err << "qznotes: the event stream closed: " << events.failure() << '\n';
        return kExitUsage;
      case EventStream::Wait::kTimedOut:
        continue;
      case EventStream::Wait::kEvent:
        break;
    }
    if (event.name != "delivered") continue;
    const std::optional<Delivery> delivery = DeliveryFromJson(event.data);
    if (!delivery) continue;
    console.out << DeliveryText(global.json, delivery->test_id, delivery->outcome,
                                delivery->details)
                << std::flush;
    if (remaining > 0 && --remaining == 0) return kExitOk;
  }
}

}  // namespace qz::client
