#include "http/http_listener.h"

#include <charconv>

#include "automation/context_post.h"

namespace qz {

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

HttpListener::~HttpListener() {
  if (!thread_.joinable()) return;
  PostToContext(context_.get(), [loop = loop_.get()] { g_main_loop_quit(loop); });
  thread_.join();
  // Nobody iterates the context now; its sources go with the server.
  g_main_context_push_thread_default(context_.get());
  soup_server_disconnect(server_.get());
  server_.reset();
  g_main_context_pop_thread_default(context_.get());
}

void HttpListener::AddHandler(std::string path, Handler handler) {
  handlers_.insert_or_assign(std::move(path), std::move(handler));
}

Status HttpListener::Start(const ListenAddress& address, std::string& bound) {
  ObjectPtr<GInetAddress> host(g_inet_address_new_from_string(address.host.c_str()));
  if (!host) return Status::InvalidArgument("not a numeric address: " + address.host);
  ObjectPtr<GSocketAddress> wanted(g_inet_socket_address_new(host.get(), address.port));
  ErrorPtr error;
  ObjectPtr<GSocket> socket(g_socket_new(g_inet_address_get_family(host.get()),
                                         G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP,
                                         ErrorSlot(error)));
  if (!socket || !g_socket_bind(socket.get(), wanted.get(), TRUE, ErrorSlot(error)) ||
      !g_socket_listen(socket.get(), ErrorSlot(error)))
    return Status::IoError(ErrorText(error));
  ObjectPtr<GSocketAddress> local(g_socket_get_local_address(socket.get(), ErrorSlot(error)));
  if (!local) return Status::IoError(ErrorText(error));

  context_.reset(g_main_context_new());
  loop_.reset(g_main_loop_new(context_.get(), FALSE));
  // The server's sources go to the context current while it listens.
  g_main_context_push_thread_default(context_.get());
  server_.reset(SOUP_SERVER(g_object_new(SOUP_TYPE_SERVER, "server-header", "qznotesd", nullptr)));
  for (const auto& [path, handler] : handlers_)
    soup_server_add_handler(server_.get(), path.c_str(), &HttpListener::OnRequest, this, nullptr);
  const bool listening = soup_server_listen_socket(server_.get(), socket.get(),
                                                   SoupServerListenOptions{}, ErrorSlot(error));
  g_main_context_pop_thread_default(context_.get());
  if (!listening) {
    server_.reset();
    return Status::IoError(ErrorText(error));
  }
  const guint16 port = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(local.get()));
  const bool v6 = address.host.find(':') != std::string::npos;
  bound = (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(port);
  thread_ = std::thread([context = context_.get(), loop = loop_.get()] {
    g_main_context_push_thread_default(context);
    g_main_loop_run(loop);
    g_main_context_pop_thread_default(context);
  });
  return {};
}

void HttpListener::OnRequest(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*,
                             gpointer self) {
  const auto& handlers = static_cast<HttpListener*>(self)->handlers_;
  // A handler is called for its path's subpaths too; only the path itself is served.
  const auto found = handlers.find(std::string_view(path));
  if (found == handlers.end()) {
    soup_server_message_set_status(message, SOUP_STATUS_NOT_FOUND, nullptr);
    return;
  }
  const std::string_view method = soup_server_message_get_method(message);
  if (method != SOUP_METHOD_GET && method != SOUP_METHOD_HEAD) {
    soup_message_headers_replace(soup_server_message_get_response_headers(message), "Allow",
                                 "GET, HEAD");
    soup_server_message_set_status(message, SOUP_STATUS_METHOD_NOT_ALLOWED, nullptr);
    return;
  }
  const HttpAnswer answer = found->second();
  soup_server_message_set_status(message, answer.status, nullptr);
  soup_server_message_set_response(message, answer.content_type.c_str(), SOUP_MEMORY_COPY,
                                   answer.body.data(), answer.body.size());
}

}  // namespace qz
