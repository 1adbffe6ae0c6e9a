#include "http/http_listener.h"

#include <sys/socket.h>

#include <algorithm>
#include <charconv>
#include <mutex>

#include "automation/context_post.h"
#include "http/token_store.h"

namespace qz {

struct HttpListener::Route {
  std::string method;
  std::vector<std::string> segments;  // "{}" captures one
  Access access;
  Handler page;         // AddHandler
  ApiHandler handler;   // AddRoute
  StreamOpener opener;  // AddStream
};

struct HttpListener::Match {
  const Route* route = nullptr;
  std::vector<std::string> captures;
  std::string allow;  // when the path is known but not with this method
};

namespace {

constexpr unsigned kStreamKeepAliveSeconds = 15;
// Set on the first request of a connection past the cap.
constexpr const char* kOverCapMark = "qz-over-cap";
constexpr std::string_view kKeepAliveComment = ": keep-alive\n\n";

std::vector<std::string> RoutePathSegments(std::string_view path) {
  std::vector<std::string> segments;
  if (!path.empty() && path.front() == '/') path.remove_prefix(1);
  while (true) {
    const size_t slash = path.find('/');
    segments.emplace_back(path.substr(0, slash));
    if (slash == std::string_view::npos) return segments;
    path.remove_prefix(slash + 1);
  }
}

void AnswerMessage(SoupServerMessage* message, const HttpAnswer& answer) {
  soup_server_message_set_status(message, answer.status, nullptr);
  soup_server_message_set_response(message, answer.content_type.c_str(), SOUP_MEMORY_COPY,
                                   answer.body.data(), answer.body.size());
}

void SetResponseHeader(SoupServerMessage* message, const char* name, const std::string& value) {
  soup_message_headers_replace(soup_server_message_get_response_headers(message), name,
                               value.c_str());
}

// The token of "Authorization: Bearer TOKEN"; empty when there is none.
std::string_view BearerToken(const char* header) {
  if (!header) return {};
  std::string_view text(header);
  constexpr std::string_view kScheme = "bearer ";
  if (text.size() <= kScheme.size() ||
      g_ascii_strncasecmp(text.data(), kScheme.data(), kScheme.size()) != 0)
    return {};
  text.remove_prefix(kScheme.size());
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// A refused body: the connection is taken from the server, answered and
// closed, so that nothing more of the body is read.
// An answer given before the request's body was read (it is too large, or
// the server is full). Closing at once, with the body's rest unread, makes
// the kernel reset the connection, and a client still sending loses the
// answer; so what comes is read and dropped for a while (a lingering
// close), up to a bound, before the connection goes.
struct Farewell {
  ObjectPtr<GIOStream> stream;
  std::string bytes;
  ObjectPtr<GCancellable> cancel{g_cancellable_new()};  // cancelled at the deadline
  SourcePtr deadline;
  goffset drained = 0;
};

constexpr goffset kFarewellDrainMost = goffset{8} << 20;
constexpr guint kFarewellDrainMs = 2000;

void CloseFarewell(std::unique_ptr<Farewell> farewell) {
  g_io_stream_close_async(farewell->stream.get(), G_PRIORITY_DEFAULT, nullptr, nullptr, nullptr);
}

void FarewellDrained(GObject* in, GAsyncResult* result, gpointer data) {
  std::unique_ptr<Farewell> farewell(static_cast<Farewell*>(data));
  const gssize skipped = g_input_stream_skip_finish(G_INPUT_STREAM(in), result, nullptr);
  if (skipped <= 0 || (farewell->drained += skipped) >= kFarewellDrainMost)
    return CloseFarewell(std::move(farewell));
  GCancellable* cancel = farewell->cancel.get();
  g_input_stream_skip_async(G_INPUT_STREAM(in), 64 * 1024, G_PRIORITY_DEFAULT, cancel,
                            &FarewellDrained, farewell.release());
}

void FarewellWritten(GObject* out, GAsyncResult* result, gpointer data) {
  std::unique_ptr<Farewell> farewell(static_cast<Farewell*>(data));
  if (!g_output_stream_write_all_finish(G_OUTPUT_STREAM(out), result, nullptr, nullptr))
    return CloseFarewell(std::move(farewell));
  farewell->deadline.reset(g_timeout_source_new(kFarewellDrainMs));
  g_source_set_callback(
      farewell->deadline.get(),
      [](gpointer cancel) {
        g_cancellable_cancel(G_CANCELLABLE(cancel));
        return G_SOURCE_REMOVE;
      },
      g_object_ref(farewell->cancel.get()), g_object_unref);
  g_source_attach(farewell->deadline.get(), g_main_context_get_thread_default());
  GInputStream* in = g_io_stream_get_input_stream(farewell->stream.get());
  GCancellable* cancel = farewell->cancel.get();
  g_input_stream_skip_async(in, 64 * 1024, G_PRIORITY_DEFAULT, cancel, &FarewellDrained,
                            farewell.release());
}

void AnswerAndClose(SoupServerMessage* message, const HttpAnswer& answer) {
  auto farewell = std::make_unique<Farewell>();
  farewell->stream.reset(soup_server_message_steal_connection(message));
  if (!farewell->stream) return;
  farewell->bytes = "HTTP/1.1 " + std::to_string(answer.status) + " " +
                    soup_status_get_phrase(answer.status) +
                    "\r\nContent-Type: " + answer.content_type +
                    "\r\nContent-Length: " + std::to_string(answer.body.size()) +
                    "\r\nConnection: close\r\n\r\n" + answer.body;
  GOutputStream* out = g_io_stream_get_output_stream(farewell->stream.get());
  const std::string& bytes = farewell->bytes;
  g_output_stream_write_all_async(out, bytes.data(), bytes.size(), G_PRIORITY_DEFAULT, nullptr,
                                  &FarewellWritten, farewell.release());
}

HttpAnswer TooLarge() {
  return Problem(413, "Content Too Large",
                 "the request body is over " + std::to_string(kMaxRequestBody) + " bytes");
}

// A chunked body is measured as it arrives.
void OnBodyChunk(SoupServerMessage* message, GBytes*, gpointer) {
  if (soup_server_message_get_request_body(message)->length > static_cast<goffset>(kMaxRequestBody))
    AnswerAndClose(message, TooLarge());
}

// Ties a value's life to a message's signal handler: `HoldForSignal` gives the
// signal's user data, the destroy notify takes it back.
template <typename T>
gpointer HoldForSignal(std::shared_ptr<T> value) {
  return std::make_unique<std::shared_ptr<T>>(std::move(value)).release();
}
template <typename T>
void ReleaseFromSignal(gpointer data, GClosure*) {
  std::unique_ptr<std::shared_ptr<T>>(static_cast<std::shared_ptr<T>*>(data));
}

// A call waiting for its handler's answer; the message is held until it is
// finished, and only touched on the listener's context.
struct PendingAnswer {
  ObjectPtr<SoupServerMessage> message;
  bool answered = false;

  static void OnFinished(SoupServerMessage*, gpointer data) {
    (*static_cast<std::shared_ptr<PendingAnswer>*>(data))->message.reset();
  }
};

// A streamed answer while its client stays. A client of a stream sends
// nothing more, so anything readable on its socket (an end, a TLS alert) is
// the client going; the paused answer would not notice that by itself.
}  // namespace

struct HttpListener::OpenStream {
  ObjectPtr<SoupServerMessage> message;
  std::shared_ptr<void> subscription;
  SourcePtr keep_alive;
  SourcePtr hang_up;

  void Write(GBytes* chunk) {
    if (!message) return;
    soup_message_body_append_bytes(soup_server_message_get_response_body(message.get()), chunk);
    soup_server_message_unpause(message.get());
  }
  void Drop() {
    keep_alive.reset();
    hang_up.reset();
    std::shared_ptr<void> gone = std::move(subscription);
  }
  static gboolean KeepAlive(gpointer data) {
    static GBytes* const comment =
        g_bytes_new_static(kKeepAliveComment.data(), kKeepAliveComment.size());
    static_cast<OpenStream*>(data)->Write(comment);
    return G_SOURCE_CONTINUE;
  }
  void End() {
    message.reset();
    Drop();
  }
  static gboolean HungUp(GSocket*, GIOCondition, gpointer data) {
    auto& stream = *static_cast<OpenStream*>(data);
    if (stream.message) {
      soup_message_body_complete(soup_server_message_get_response_body(stream.message.get()));
      soup_server_message_unpause(stream.message.get());
    }
    stream.Drop();
    return G_SOURCE_REMOVE;
  }
  static void OnFinished(SoupServerMessage*, gpointer data) {
    (*static_cast<std::shared_ptr<OpenStream>*>(data))->End();
  }
};

// One outcome goes to every subscriber at once: the sinks queue it here and
// only the first of a burst wakes the listener, which writes them all in
// one pass, one buffer for each run of equal chunks.
struct HttpListener::Outbox {
  std::mutex mutex;
  std::vector<std::pair<std::weak_ptr<OpenStream>, std::string>> queued;

  static void Queue(const std::shared_ptr<Outbox>& outbox, GMainContext* context,
                    std::weak_ptr<OpenStream> stream, std::string chunk) {
    bool first = false;
    {
      std::lock_guard lock(outbox->mutex);
      first = outbox->queued.empty();
      outbox->queued.emplace_back(std::move(stream), std::move(chunk));
    }
    if (first) PostToContext(context, [outbox] { outbox->WriteQueued(); });
  }
  void WriteQueued() {
    std::vector<std::pair<std::weak_ptr<OpenStream>, std::string>> taken;
    {
      std::lock_guard lock(mutex);
      taken.swap(queued);
    }
    std::unique_ptr<GBytes, void (*)(GBytes*)> shared(nullptr, &g_bytes_unref);
    const std::string* shared_text = nullptr;
    for (auto& [weak, chunk] : taken) {
      std::shared_ptr<OpenStream> open = weak.lock();
      if (!open) continue;
      if (!shared_text || *shared_text != chunk) {
        shared.reset(g_bytes_new(chunk.data(), chunk.size()));
        shared_text = &chunk;
      }
      open->Write(shared.get());
    }
  }
};

// A connection soup serves, known by its socket while soup holds it. Only
// the wait for a request's headers has a deadline; once they are in, the
// answer may take as long as its handler (or stream) does.
// Soup tells no one when a kept connection ends between requests, so an
// entry also goes when its deadline closes it: none outlives a quiet spell.
struct HttpListener::Connection {
  HttpListener* listener;
  GSocket* socket;  // held below: a closed one has no descriptor to reuse
  uint64_t serial;  // tells this connection from a later one on the same socket
  SourcePtr deadline;
  ObjectPtr<GSocket> held = Ref(socket);

  void Await(unsigned seconds) {
    deadline.reset(g_timeout_source_new_seconds(seconds));
    g_source_set_callback(deadline.get(), &Connection::TimedOut, this, nullptr);
    g_source_attach(deadline.get(), listener->context_.get());
  }
  // Soup sees the end of its input and lets the connection go.
  static gboolean TimedOut(gpointer data) {
    auto* connection = static_cast<Connection*>(data);
    ::shutdown(g_socket_get_fd(connection->socket), SHUT_RDWR);
    connection->listener->connections_.erase(connection->socket);  // and its deadline
    return G_SOURCE_REMOVE;
  }
  // Each request's message is told when its connection goes.
  struct Key {
    HttpListener* listener;
    GSocket* socket;
    uint64_t serial;
  };
  static void Gone(SoupServerMessage*, gpointer data) {
    const Key& key = *static_cast<Key*>(data);
    auto& open = key.listener->connections_;
    if (auto found = open.find(key.socket);
        found != open.end() && found->second->serial == key.serial)
      open.erase(found);
  }
  static void ForgetKey(gpointer data, GClosure*) { std::unique_ptr<Key>(static_cast<Key*>(data)); }
};

std::optional<ListenAddress> ParseListenAddress(std::string_view text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view host = text.substr(0, colon);
  const std::string_view port_text = text.substr(colon + 1);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  else if (host.find(':') != std::string_view::npos)
    return std::nullopt;  // an IPv6 address goes in brackets
  unsigned port = 0;
  auto [end, error] = std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
  if (port_text.empty() || error != std::errc() || end != port_text.data() + port_text.size() ||
      port > 65535)
    return std::nullopt;
  ListenAddress address{std::string(host), static_cast<uint16_t>(port)};
  ObjectPtr<GInetAddress> numeric(g_inet_address_new_from_string(address.host.c_str()));
  if (!numeric) return std::nullopt;
  return address;
}

bool IsLoopback(const ListenAddress& address) {
  ObjectPtr<GInetAddress> numeric(g_inet_address_new_from_string(address.host.c_str()));
  return numeric && g_inet_address_get_is_loopback(numeric.get());
}

HttpListener::HttpListener() : outbox_(std::make_shared<Outbox>()) {}

HttpListener::~HttpListener() {
  if (!thread_.joinable()) return;
  PostToContext(context_.get(), [loop = loop_.get()] { g_main_loop_quit(loop); });
  thread_.join();
  // Nobody iterates the context now; its sources go with the server.
  g_main_context_push_thread_default(context_.get());
  for (const std::weak_ptr<OpenStream>& weak : streams_)
    if (std::shared_ptr<OpenStream> stream = weak.lock()) stream->End();
  connections_.clear();
  soup_server_disconnect(server_.get());
  server_.reset();
  g_main_context_pop_thread_default(context_.get());
}

void HttpListener::AddHandler(std::string path, Handler handler, Access access) {
  routes_.push_back({"GET", RoutePathSegments(path), access, std::move(handler), {}, {}});
}

void HttpListener::AddRoute(std::string method, std::string pattern, Access access,
                            ApiHandler handler) {
  routes_.push_back(
      {std::move(method), RoutePathSegments(pattern), access, {}, std::move(handler), {}});
}

void HttpListener::AddStream(std::string pattern, Access access, StreamOpener opener) {
  routes_.push_back({"GET", RoutePathSegments(pattern), access, {}, {}, std::move(opener)});
}

HttpListener::Match HttpListener::Find(std::string_view method, std::string_view path) const {
  const std::vector<std::string> segments = RoutePathSegments(path);
  Match match;
  for (const Route& route : routes_) {
    if (route.segments.size() != segments.size()) continue;
    std::vector<std::string> captures;
    bool same = true;
    for (size_t i = 0; same && i < segments.size(); ++i) {
      if (route.segments[i] == "{}" && !segments[i].empty())
        captures.push_back(segments[i]);
      else
        same = route.segments[i] == segments[i];
    }
    if (!same) continue;
    if (route.method == method || (route.page && method == SOUP_METHOD_HEAD)) {
      match.route = &route;
      match.captures = std::move(captures);
      return match;
    }
    if (match.allow.find(route.method) == std::string::npos)
      match.allow += (match.allow.empty() ? "" : ", ") + route.method;
  }
  return match;
}

std::optional<HttpAnswer> HttpListener::Admit(SoupServerMessage* message, const Access& access,
                                              ApiCaller& caller) {
  if (!access.needs_token) return std::nullopt;
  auto refuse = [&](HttpAnswer answer, std::string_view why) {
    if (report_)
      if (auto line = refusals_.Line("http client " + caller.peer, why)) report_(*line);
    return answer;
  };
  const std::string_view token = BearerToken(soup_message_headers_get_one(
      soup_server_message_get_request_headers(message), "Authorization"));
  std::optional<TokenStore::Grant> grant;
  if (!token.empty() && tokens_) grant = tokens_->Find(token);
  if (!grant) {
    SetResponseHeader(message, "WWW-Authenticate", "Bearer");
    const bool none = token.empty();
    return refuse(
        Problem(401, "Unauthorized",
                none ? "this call needs an Authorization: Bearer token" : "the token is not valid"),
        none ? "refused: no bearer token" : "refused: a token that is not valid");
  }
  caller.token = grant->name;
  caller.rights = grant->rights;
  const unsigned missing = access.rights & ~grant->rights;
  if (missing == 0) return std::nullopt;
  const std::string rights = RightsText(missing);
  return refuse(
      Problem(403, "Forbidden", "the token " + grant->name + " lacks the right " + rights),
      "refused: token " + grant->name + " lacks the right " + rights);
}

Status HttpListener::Start(const ListenAddress& address, std::string& bound) {
  std::vector<std::string> names;
  Status status = Start(std::vector<ListenAddress>{address}, names);
  if (status.ok()) bound = names.front();
  return status;
}

Status HttpListener::Start(const std::vector<ListenAddress>& addresses,
                           std::vector<std::string>& bound) {
  std::vector<ObjectPtr<GSocket>> sockets;
  for (const ListenAddress& address : addresses) {
    ObjectPtr<GInetAddress> host(g_inet_address_new_from_string(address.host.c_str()));
    if (!host) return Status::InvalidArgument("not a numeric address: " + address.host);
    ObjectPtr<GSocketAddress> wanted(g_inet_socket_address_new(host.get(), address.port));
    ErrorPtr error;
    ObjectPtr<GSocket> socket(g_socket_new(g_inet_address_get_family(host.get()),
                                           G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP,
                                           ErrorSlot(error)));
    // GIO's default backlog of 10 makes a burst of clients wait out SYN retries.
    if (socket) g_socket_set_listen_backlog(socket.get(), SOMAXCONN);
    if (!socket || !g_socket_bind(socket.get(), wanted.get(), TRUE, ErrorSlot(error)) ||
        !g_socket_listen(socket.get(), ErrorSlot(error)))
      return Status::IoError(address.host + ": " + ErrorText(error));
    ObjectPtr<GSocketAddress> local(g_socket_get_local_address(socket.get(), ErrorSlot(error)));
    if (!local) return Status::IoError(ErrorText(error));
    const guint16 port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(local.get()));
    const bool v6 = address.host.find(':') != std::string::npos;
    bound.push_back((v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(port));
    sockets.push_back(std::move(socket));
  }

  context_.reset(g_main_context_new());
  loop_.reset(g_main_loop_new(context_.get(), FALSE));
  // The server's sources go to the context current while it listens.
  g_main_context_push_thread_default(context_.get());
  server_.reset(SOUP_SERVER(g_object_new(SOUP_TYPE_SERVER, "server-header", "qznotesd",
                                         "tls-certificate", tls_.get(), nullptr)));
  g_signal_connect(server_.get(), "request-started", G_CALLBACK(&HttpListener::OnRequestStarted),
                   this);
  g_signal_connect(server_.get(), "request-finished", G_CALLBACK(&HttpListener::OnRequestFinished),
                   this);
  soup_server_add_early_handler(server_.get(), nullptr, &HttpListener::OnHeaders, this, nullptr);
  soup_server_add_handler(server_.get(), nullptr, &HttpListener::OnRequest, this, nullptr);
  ErrorPtr error;
  const auto options = tls_ ? SOUP_SERVER_LISTEN_HTTPS : SoupServerListenOptions{};
  bool listening = true;
  for (const ObjectPtr<GSocket>& socket : sockets)
    listening = listening &&
                soup_server_listen_socket(server_.get(), socket.get(), options, ErrorSlot(error));
  g_main_context_pop_thread_default(context_.get());
  if (!listening) {
    server_.reset();
    return Status::IoError(ErrorText(error));
  }
  thread_ = std::thread([context = context_.get(), loop = loop_.get()] {
    g_main_context_push_thread_default(context);
    g_main_loop_run(loop);
    g_main_context_pop_thread_default(context);
  });
  return {};
}

void HttpListener::OnRequestStarted(SoupServer*, SoupServerMessage* message, gpointer data) {
  HttpListener& self = *static_cast<HttpListener*>(data);
  GSocket* socket = soup_server_message_get_socket(message);
  if (!socket) return;
  auto known = self.connections_.find(socket);
  if (known != self.connections_.end()) {
    known->second->Await(self.limits_.idle_seconds);
    g_signal_connect_data(message, "disconnected", G_CALLBACK(&Connection::Gone),
                          new Connection::Key{&self, socket, known->second->serial},
                          &Connection::ForgetKey, GConnectFlags{});
    return;
  }
  if (self.connections_.size() >= self.limits_.max_connections) {
    if (self.report_)
      if (auto line = self.refusals_.Line(
              "http listener",
              "refused a connection: " + std::to_string(self.connections_.size()) + " open"))
        self.report_(*line);
    // Headers already in are answered 503; otherwise the connection is
    // closed once soup has set it up (closed under it, it complains).
    g_object_set_data(G_OBJECT(message), kOverCapMark, message);
    PostToContext(self.context_.get(),
                  [held = Ref(socket)] { ::shutdown(g_socket_get_fd(held.get()), SHUT_RDWR); });
    return;
  }
  auto connection = std::make_unique<Connection>(Connection{&self, socket, ++self.serial_, {}});
  connection->Await(std::min(self.limits_.headers_seconds, self.limits_.idle_seconds));
  g_signal_connect_data(message, "disconnected", G_CALLBACK(&Connection::Gone),
                        new Connection::Key{&self, socket, connection->serial},
                        &Connection::ForgetKey, GConnectFlags{});
  self.connections_.emplace(socket, std::move(connection));
}

void HttpListener::OnRequestFinished(SoupServer*, SoupServerMessage* message, gpointer data) {
  HttpListener& self = *static_cast<HttpListener*>(data);
  if (GSocket* socket = soup_server_message_get_socket(message))
    if (auto known = self.connections_.find(socket); known != self.connections_.end())
      known->second->Await(self.limits_.idle_seconds);
}

void HttpListener::OnHeaders(SoupServer*, SoupServerMessage* message, const char*, GHashTable*,
                             gpointer data) {
  HttpListener& self = *static_cast<HttpListener*>(data);
  if (g_object_get_data(G_OBJECT(message), kOverCapMark)) {
    AnswerAndClose(message, Problem(503, "Service Unavailable",
                                    "too many connections are open; try again later"));
    return;
  }
  if (GSocket* socket = soup_server_message_get_socket(message))
    if (auto known = self.connections_.find(socket); known != self.connections_.end())
      known->second->deadline.reset();
  SoupMessageHeaders* headers = soup_server_message_get_request_headers(message);
  if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH &&
      soup_message_headers_get_content_length(headers) > static_cast<goffset>(kMaxRequestBody)) {
    AnswerAndClose(message, TooLarge());
    return;
  }
  g_signal_connect(message, "got-chunk", G_CALLBACK(&OnBodyChunk), nullptr);
}

void HttpListener::OnRequest(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*,
                             gpointer data) {
  HttpListener& self = *static_cast<HttpListener*>(data);
  const std::string method = soup_server_message_get_method(message);
  Match match = self.Find(method, path);
  if (!match.route) {
    if (match.allow.empty()) {
      AnswerMessage(message, Problem(404, "Not Found", std::string("no such path: ") + path));
    } else {
      SetResponseHeader(message, "Allow", match.allow);
      AnswerMessage(message, Problem(405, "Method Not Allowed", path + (" takes " + match.allow)));
    }
    return;
  }
  const Route& route = *match.route;
  ApiCall call{method, path, std::move(match.captures), {}, {}};
  if (const char* peer = soup_server_message_get_remote_host(message)) call.caller.peer = peer;
  if (std::optional<HttpAnswer> refusal = self.Admit(message, route.access, call.caller)) {
    AnswerMessage(message, *refusal);
    return;
  }
  if (route.page) {
    AnswerMessage(message, route.page());
    return;
  }
  SoupMessageBody* body = soup_server_message_get_request_body(message);
  if (body->length > 0) {
    GBytes* flat = soup_message_body_flatten(body);
    gsize size = 0;
    const auto* bytes = static_cast<const char*>(g_bytes_get_data(flat, &size));
    call.body.assign(bytes, size);
    g_bytes_unref(flat);
  }
  MainContextPtr context(g_main_context_ref(self.context_.get()));

  if (route.opener) {
    soup_server_message_set_status(message, 200, nullptr);
    SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
    soup_message_headers_set_encoding(headers, SOUP_ENCODING_CHUNKED);
    soup_message_headers_replace(headers, "Content-Type", "text/event-stream");
    soup_message_headers_replace(headers, "Cache-Control", "no-cache");
    soup_message_body_set_accumulate(soup_server_message_get_response_body(message), FALSE);
    auto stream = std::make_shared<OpenStream>();
    stream->message = Ref(message);
    stream->keep_alive.reset(g_timeout_source_new_seconds(kStreamKeepAliveSeconds));
    g_source_set_callback(stream->keep_alive.get(), &OpenStream::KeepAlive, stream.get(), nullptr);
    g_source_attach(stream->keep_alive.get(), self.context_.get());
    stream->hang_up.reset(
        g_socket_create_source(soup_server_message_get_socket(message),
                               static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), nullptr));
    g_source_set_callback(stream->hang_up.get(), G_SOURCE_FUNC(&OpenStream::HungUp), stream.get(),
                          nullptr);
    g_source_attach(stream->hang_up.get(), self.context_.get());
    g_signal_connect_data(message, "finished", G_CALLBACK(&OpenStream::OnFinished),
                          HoldForSignal(stream), &ReleaseFromSignal<OpenStream>, GConnectFlags{});
    ChunkSink sink = [context = std::shared_ptr<GMainContext>(std::move(context)),
                      outbox = self.outbox_,
                      weak = std::weak_ptr<OpenStream>(stream)](std::string chunk) {
      Outbox::Queue(outbox, context.get(), weak, std::move(chunk));
    };
    std::erase_if(self.streams_, [](const auto& weak) { return weak.expired(); });
    self.streams_.push_back(stream);
    stream->subscription = route.opener(call, std::move(sink));
    return;
  }

  auto pending = std::make_shared<PendingAnswer>();
  pending->message = Ref(message);
  g_signal_connect_data(message, "finished", G_CALLBACK(&PendingAnswer::OnFinished),
                        HoldForSignal(pending), &ReleaseFromSignal<PendingAnswer>, GConnectFlags{});
  soup_server_message_pause(message);
  ApiReply reply = [context = std::shared_ptr<GMainContext>(std::move(context)),
                    pending](HttpAnswer answer) {
    PostToContext(context.get(), [pending, answer = std::move(answer)] {
      if (!pending->message || pending->answered) return;
      pending->answered = true;
      AnswerMessage(pending->message.get(), answer);
      soup_server_message_unpause(pending->message.get());
    });
  };
  route.handler(std::move(call), std::move(reply));
}

}  // namespace qz
