// The transport of `qznotes --url`: calls to the server's HTTP API with the
// bearer token, over TLS that is verified unless the user asked otherwise by
// name, and the server-sent event stream of deliveries. Blocking, with time
// limits; each object belongs to the thread that made it (the main thread).
#pragma once

#include <curl/curl.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/holders.h"

namespace qz::client {

struct ApiTarget {
  std::string url;  // the server's base URL, without a final '/'
  std::string token;
  std::string cacert;  // the CA to check the server against; empty: the system's
  bool insecure = false;
};

struct ApiAnswer {
  long status = 0;              // 0: no answer came
  std::string body;             // the answer's body (a problem body for a refusal)
  std::string failure;          // with status 0: why (connection, TLS, time limit)
  bool nobody_listens = false;  // the connection was refused: no server there
};

// One call; `body` null for none, `timeout_seconds` 0 for no limit.
ApiAnswer CallApi(const ApiTarget& target, std::string_view method, std::string_view path,
                  const std::string* body, int timeout_seconds);

struct ServerEvent {
  std::string name;  // "message" when the server names none
  std::string data;  // the data lines, joined by '\n'
};

// Splits a text/event-stream into events as its chunks arrive; comment
// lines (the server's keep-alives) and fields other than event and data
// are skipped.
class EventReader {
 public:
  void Feed(std::string_view chunk);
  std::optional<ServerEvent> Take();

 private:
  void Line(std::string_view line);
  std::string partial_;  // the line not yet ended
  ServerEvent pending_;
  bool has_data_ = false;
  std::deque<ServerEvent> ready_;
};

// GET /v1/events, kept open: Open waits for the server's answer head, Next
// for each event after it.
class EventStream {
 public:
  enum class Wait { kEvent, kTimedOut, kClosed, kInterrupted };

  explicit EventStream(const ApiTarget& target);
  ~EventStream();
  EventStream(const EventStream&) = delete;
  EventStream& operator=(const EventStream&) = delete;

  // Null once the server streams; else its refusal, or no answer.
  std::optional<ApiAnswer> Open(int timeout_seconds);
  // The next event within `timeout_ms` (negative: no limit); kInterrupted
  // as soon as `interrupt_fd` (if not -1) can be read.
  Wait Next(ServerEvent& event, int timeout_ms, int interrupt_fd);
  // Why the stream ended (kClosed).
  const std::string& failure() const { return failure_; }

 private:
  static size_t OnBody(char* data, size_t size, size_t count, void* self);
  static size_t OnHeader(char* data, size_t size, size_t count, void* self);
  // Moves what the socket has; notes the end of the transfer.
  void Perform();
  // Sleeps up to `wait_ms` for the socket or `interrupt_fd`; true when
  // `interrupt_fd` became readable.
  bool Sleep(int wait_ms, int interrupt_fd);

  CurlPtr easy_;
  CURLM* multi_ = nullptr;
  CurlSlistPtr headers_;
  char error_[CURL_ERROR_SIZE] = {};
  long status_ = 0;  // the final answer's status once its head is in
  bool ended_ = false;
  CURLcode result_ = CURLE_OK;
  std::string refusal_;  // the body of an answer other than 200
  std::string failure_;
  EventReader reader_;
};

}  // namespace qz::client
