// An HTTP server (libsoup 3) on a thread and GMainContext of its own, never
// on an apartment, so a slow client holds back no request. Handlers are
// added by path before Start(); each runs on the listener's thread, one at
// a time, and answers at once. Construct, add handlers, start and destroy
// on one thread; the destructor stops the server and joins its thread.
#pragma once

#include <libsoup/soup.h>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/holders.h"
#include "platform/status.h"

namespace qz {

struct HttpAnswer {
  unsigned status = 200;
  std::string content_type = "text/plain; charset=utf-8";
  std::string body = {};
};

// "127.0.0.1:9469", "[::1]:9469": a numeric address and a port from 0 (any
// free one) to 65535. Nothing when the text is no such address.
struct ListenAddress {
  std::string host;
  uint16_t port = 0;
};
std::optional<ListenAddress> ParseListenAddress(std::string_view text);

class HttpListener {
 public:
  // Answers a GET (or HEAD) of its path; no request body is read.
  using Handler = std::function<HttpAnswer()>;

  HttpListener() = default;
  ~HttpListener();
  HttpListener(const HttpListener&) = delete;
  HttpListener& operator=(const HttpListener&) = delete;

  void AddHandler(std::string path, Handler handler);
  // Binds `address` and serves from now on. On success `bound` names the
  // address and port in use (the port the kernel chose for port 0).
  Status Start(const ListenAddress& address, std::string& bound);

 private:
  static void OnRequest(SoupServer* server, SoupServerMessage* message, const char* path,
                        GHashTable* query, gpointer self);

  std::map<std::string, Handler, std::less<>> handlers_;  // read-only once started
  MainContextPtr context_;
  MainLoopPtr loop_;
  ObjectPtr<SoupServer> server_;  // its sources are on context_
  std::thread thread_;            // iterates context_ while serving
};

}  // namespace qz
