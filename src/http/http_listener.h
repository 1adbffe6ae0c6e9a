// An HTTP server (libsoup 3) on a thread and GMainContext of its own, never
// on an apartment, so a slow client holds back no request. Routes are added
// before Start(); the listener matches the path, checks the caller's bearer
// token and rights and the body's size, then hands the call on. Handlers run
// on the listener's thread and may answer later from any thread. Construct,
// add routes, start and destroy on one thread; the destructor stops the
// server and joins its thread.
#pragma once

#include <libsoup/soup.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "diagnostics/refusal_log.h"
#include "http/front_door.h"
#include "http/http_answer.h"
#include "platform/holders.h"
#include "platform/status.h"

namespace qz {

class TokenStore;

// "127.0.0.1:9469", "[::1]:9469": a numeric address and a port from 0 (any
// free one) to 65535. Nothing when the text is no such address.
struct ListenAddress {
  std::string host;
  uint16_t port = 0;
};
std::optional<ListenAddress> ParseListenAddress(std::string_view text);
bool IsLoopback(const ListenAddress& address);

// Bodies above this are refused (413) before they are read.
inline constexpr size_t kMaxRequestBody = 1024 * 1024;

// How long a connection may keep the listener waiting for a request, and
// how many may be open at once (event streams included), so that sockets
// nobody uses cannot pile up without bound.
struct ConnectionLimits {
  unsigned idle_seconds = 60;     // between one answer and the next request's headers
  unsigned headers_seconds = 10;  // from a new connection to its first request's headers
  size_t max_connections = 4096;  // more are closed as they come
};

class HttpListener {
 public:
  // Answers a GET (or HEAD) of its path at once; no request body is read.
  using Handler = std::function<HttpAnswer()>;

  HttpListener();
  ~HttpListener();
  HttpListener(const HttpListener&) = delete;
  HttpListener& operator=(const HttpListener&) = delete;

  void AddHandler(std::string path, Handler handler, Access access = kPublicAccess);
  // Calls of `method` to a path matching `pattern`, where each "{}" matches one
  // non-empty path segment (percent-decoded) and is captured in ApiCall::captures.
  void AddRoute(std::string method, std::string pattern, Access access, ApiHandler handler);
  // A GET answered as a stream of chunks (text/event-stream) for as long as the
  // client stays; the listener drops the opener's subscription when the client goes.
  void AddStream(std::string pattern, Access access, StreamOpener opener);

  // Whose tokens are valid; it outlives the listener. None: every route that
  // needs a token refuses.
  void UseTokens(TokenStore* tokens) { tokens_ = tokens; }
  // Serves HTTPS with `certificate` (its key included).
  void UseTls(ObjectPtr<GTlsCertificate> certificate) { tls_ = std::move(certificate); }
  // Where refusals are told, at most one line per client address and 10 s.
  void UseReport(std::function<void(std::string_view)> report) { report_ = std::move(report); }
  void UseConnectionLimits(const ConnectionLimits& limits) { limits_ = limits; }

  // Binds each address and serves from now on. On success `bound` names the
  // address and port in use (the port the kernel chose for port 0).
  Status Start(const std::vector<ListenAddress>& addresses, std::vector<std::string>& bound);
  Status Start(const ListenAddress& address, std::string& bound);

 private:
  struct Route;
  struct Match;
  struct OpenStream;
  struct Outbox;
  struct Connection;

  Match Find(std::string_view method, std::string_view path) const;
  // The call's caller, or the refusal (401, 403) to answer instead.
  std::optional<HttpAnswer> Admit(SoupServerMessage* message, const Access& access,
                                  ApiCaller& caller);

  // A request begins on a new or a kept connection; past the cap a new
  // connection is closed at once.
  static void OnRequestStarted(SoupServer* server, SoupServerMessage* message, gpointer self);
  // An answer is out: the connection may wait for its next request, idle.
  static void OnRequestFinished(SoupServer* server, SoupServerMessage* message, gpointer self);
  static void OnHeaders(SoupServer* server, SoupServerMessage* message, const char* path,
                        GHashTable* query, gpointer self);
  static void OnRequest(SoupServer* server, SoupServerMessage* message, const char* path,
                        GHashTable* query, gpointer self);

  std::vector<Route> routes_;  // read-only once started
  // Dropped when the listener goes, should a client still be there; touched
  // on the listener's thread only.
  std::vector<std::weak_ptr<OpenStream>> streams_;
  // Chunks for the streams, from any thread, written in one pass on the
  // listener's thread.
  std::shared_ptr<Outbox> outbox_;
  // Open connections by socket; an entry goes when soup lets its socket go.
  // Touched on the listener's thread only.
  std::unordered_map<GSocket*, std::unique_ptr<Connection>> connections_;
  uint64_t serial_ = 0;
  ConnectionLimits limits_;
  TokenStore* tokens_ = nullptr;
  ObjectPtr<GTlsCertificate> tls_;
  std::function<void(std::string_view)> report_;
  RefusalLog refusals_;
  MainContextPtr context_;
  MainLoopPtr loop_;
  ObjectPtr<SoupServer> server_;  // its sources are on context_
  std::thread thread_;            // iterates context_ while serving
};

}  // namespace qz
