#include "client/http_api_client.h"

#include <algorithm>
#include <chrono>

#include "platform/curl_global.h"

namespace qz::client {
namespace {

// An answer of the API is small JSON; a larger one is no answer of it.
constexpr size_t kLongestApiAnswer = 1 << 20;
constexpr long kApiConnectSeconds = 15;

size_t CollectApiBody(char* data, size_t size, size_t count, void* out) {
  auto& body = *static_cast<std::string*>(out);
  if (body.size() + size * count > kLongestApiAnswer) return 0;  // ends the transfer
  body.append(data, size * count);
  return size * count;
}

// What every call shares: the URL, the token, TLS and the protocols.
void Prepare(CURL* curl, const ApiTarget& target, std::string_view path, std::string_view accept,
             CurlSlistPtr& headers, char* error) {
  const std::string url = target.url + std::string(path);
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kApiConnectSeconds);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  if (!target.cacert.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, target.cacert.c_str());
  if (target.insecure) {
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
  }
  const std::string authorization = "Authorization: Bearer " + target.token;
  const std::string accepts = "Accept: " + std::string(accept);
  AppendLine(headers, authorization.c_str());
  AppendLine(headers, accepts.c_str());
}

std::string FailureText(CURLcode code, const char* error) {
  return error[0] ? std::string(error) : std::string(curl_easy_strerror(code));
}

}  // namespace

ApiAnswer CallApi(const ApiTarget& target, std::string_view method, std::string_view path,
                  const std::string* body, int timeout_seconds) {
  InitialiseCurlOnce();
  CurlPtr curl(curl_easy_init());
  ApiAnswer answer;
  if (!curl) return {0, "", "cannot start an HTTP transfer", false};
  CurlSlistPtr headers;
  char error[CURL_ERROR_SIZE] = {};
  Prepare(curl.get(), target, path, "application/json, application/problem+json", headers, error);
  const std::string verb(method);
  curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, verb.c_str());
  if (body) {
    AppendLine(headers, "Content-Type: application/json");
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, body->data());
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(body->size()));
  }
  curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, static_cast<long>(timeout_seconds));
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, CollectApiBody);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &answer.body);
  const CURLcode code = curl_easy_perform(curl.get());
  if (code != CURLE_OK) {
    answer.failure =
        code == CURLE_WRITE_ERROR ? "the server's answer is too long" : FailureText(code, error);
    answer.nobody_listens = code == CURLE_COULDNT_CONNECT;
    answer.body.clear();
    return answer;
  }
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &answer.status);
  return answer;
}

void EventReader::Feed(std::string_view chunk) {
  partial_.append(chunk);
  size_t start = 0;
  for (size_t end; (end = partial_.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string_view line(partial_.data() + start, end - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    Line(line);
  }
  partial_.erase(0, start);
}

std::optional<ServerEvent> EventReader::Take() {
  if (ready_.empty()) return std::nullopt;
  ServerEvent event = std::move(ready_.front());
  ready_.pop_front();
  return event;
}

void EventReader::Line(std::string_view line) {
  if (line.empty()) {
    // A blank line ends an event; one without data is no event.
    if (has_data_) {
      if (pending_.name.empty()) pending_.name = "message";
      ready_.push_back(std::move(pending_));
    }
    pending_ = {};
    has_data_ = false;
    return;
  }
  if (line.front() == ':') return;
  const size_t colon = line.find(':');
  const std::string_view field = line.substr(0, colon);
  std::string_view value = colon == std::string_view::npos ? "" : line.substr(colon + 1);
  if (value.starts_with(' ')) value.remove_prefix(1);
  if (field == "event") {
    pending_.name = value;
  } else if (field == "data") {
    if (has_data_) pending_.data += '\n';
    pending_.data += value;
    has_data_ = true;
  }
}

EventStream::EventStream(const ApiTarget& target) {
  InitialiseCurlOnce();
  easy_.reset(curl_easy_init());
  multi_ = curl_multi_init();
  if (!easy_ || !multi_) return;
  Prepare(easy_.get(), target, "/v1/events", "text/event-stream", headers_, error_);
  curl_easy_setopt(easy_.get(), CURLOPT_HTTPHEADER, headers_.get());
  curl_easy_setopt(easy_.get(), CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(easy_.get(), CURLOPT_WRITEDATA, this);
  curl_easy_setopt(easy_.get(), CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(easy_.get(), CURLOPT_HEADERDATA, this);
  curl_multi_add_handle(multi_, easy_.get());
}

EventStream::~EventStream() {
  if (multi_ && easy_) curl_multi_remove_handle(multi_, easy_.get());
  if (multi_) curl_multi_cleanup(multi_);
}

size_t EventStream::OnHeader(char* data, size_t size, size_t count, void* self) {
  auto& stream = *static_cast<EventStream*>(self);
  const std::string_view line(data, size * count);
  // The blank line ends a head; an interim (1xx) head is followed by another.
  if (line == "\r\n" || line == "\n") {
    long status = 0;
    curl_easy_getinfo(stream.easy_.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status >= 200) stream.status_ = status;
  }
  return size * count;
}

size_t EventStream::OnBody(char* data, size_t size, size_t count, void* self) {
  auto& stream = *static_cast<EventStream*>(self);
  const std::string_view chunk(data, size * count);
  if (stream.status_ == 200) {
    stream.reader_.Feed(chunk);
  } else if (stream.refusal_.size() + chunk.size() <= kLongestApiAnswer) {
    stream.refusal_.append(chunk);
  } else {
    return 0;
  }
  return chunk.size();
}

void EventStream::Perform() {
  int running = 0;
  curl_multi_perform(multi_, &running);
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
    if (message->msg != CURLMSG_DONE) continue;
    ended_ = true;
    result_ = message->data.result;
    failure_ =
        result_ == CURLE_OK ? "the server ended the event stream" : FailureText(result_, error_);
  }
}

bool EventStream::Sleep(int wait_ms, int interrupt_fd) {
  curl_waitfd interrupt{interrupt_fd, CURL_WAIT_POLLIN, 0};
  const bool watched = interrupt_fd >= 0;
  curl_multi_poll(multi_, watched ? &interrupt : nullptr, watched ? 1 : 0, wait_ms, nullptr);
  return watched && interrupt.revents != 0;
}

std::optional<ApiAnswer> EventStream::Open(int timeout_seconds) {
  if (!easy_ || !multi_) return ApiAnswer{0, "", "cannot start an HTTP transfer", false};
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::seconds(timeout_seconds);
  // A refusal is read to its end: its body says why.
  for (Perform(); !ended_ && status_ != 200; Perform()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    Sleep(static_cast<int>(std::min<long long>(left.count(), 1000)), -1);
  }
  if (status_ == 200) return std::nullopt;
  if (ended_ && result_ == CURLE_OK) return ApiAnswer{status_, refusal_, "", false};
  if (!ended_)
    return ApiAnswer{0, "", "no answer within " + std::to_string(timeout_seconds) + " s", false};
  return ApiAnswer{0, "", failure_, result_ == CURLE_COULDNT_CONNECT};
}

EventStream::Wait EventStream::Next(ServerEvent& event, int timeout_ms, int interrupt_fd) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (true) {
    Perform();
    if (std::optional<ServerEvent> ready = reader_.Take()) {
      event = std::move(*ready);
      return Wait::kEvent;
    }
    if (ended_) return Wait::kClosed;
    int wait_ms = 1000;
    if (timeout_ms >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return Wait::kTimedOut;
      wait_ms = static_cast<int>(std::min<long long>(left, wait_ms));
    }
    if (Sleep(wait_ms, interrupt_fd)) return Wait::kInterrupted;
  }
}

}  // namespace qz::client
