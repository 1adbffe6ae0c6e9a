#include "components/http_post.h"

#include <curl/curl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>

#include "components/callback_address.h"

#include "platform/curl_global.h"
#include "platform/holders.h"

namespace qz {
namespace {

size_t DiscardBody(char*, size_t size, size_t count, void*) { return size * count; }

struct HostAndPort {
  std::string host;  // IPv6 without brackets
  uint16_t port = 0;
};

std::optional<HostAndPort> HostOf(const std::string& url_text) {
  CurlUrlPtr url(curl_url());
  if (!url || curl_url_set(url.get(), CURLUPART_URL, url_text.c_str(), 0) != CURLUE_OK)
    return std::nullopt;
  char* host = nullptr;
  char* port = nullptr;
  HostAndPort result;
  if (curl_url_get(url.get(), CURLUPART_HOST, &host, 0) == CURLUE_OK)
    result.host = CurlText(host).get();
  if (curl_url_get(url.get(), CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK)
    result.port = static_cast<uint16_t>(std::strtoul(CurlText(port).get(), nullptr, 10));
  if (result.host.size() > 2 && result.host.front() == '[' && result.host.back() == ']')
    result.host = result.host.substr(1, result.host.size() - 2);
  if (result.host.empty() || result.port == 0) return std::nullopt;
  return result;
}

// The addresses curl may connect to; anything else it tries gets no socket.
struct Pinned {
  std::vector<Endpoint> endpoints;
  bool refused = false;
};

curl_socket_t OpenPinnedSocket(void* data, curlsocktype purpose, curl_sockaddr* address) {
  auto* pinned = static_cast<Pinned*>(data);
  const bool listed =
      std::any_of(pinned->endpoints.begin(), pinned->endpoints.end(),
                  [&](const Endpoint& endpoint) { return SameEndpoint(address->addr, endpoint); });
  if (purpose != CURLSOCKTYPE_IPCXN || !listed) {
    pinned->refused = true;
    return CURL_SOCKET_BAD;
  }
  return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

// "host:port:addr,[v6addr]" for CURLOPT_RESOLVE.
std::string ResolveEntry(const HostAndPort& target, const std::vector<Endpoint>& endpoints) {
  std::string entry = target.host + ":" + std::to_string(target.port) + ":";
  for (size_t i = 0; i < endpoints.size(); ++i) {
    if (i > 0) entry += ',';
    const std::string text = EndpointAddressText(endpoints[i]);
    entry += endpoints[i].sockaddr_ref().sa_family == AF_INET6 ? "[" + text + "]" : text;
  }
  return entry;
}

}  // namespace

HttpPostResult HttpPost(const HttpPostRequest& request) {
  InitialiseCurlOnce();
  std::optional<HostAndPort> target = HostOf(request.url);
  if (!target) return {0, "no host in the URL"};
  std::optional<std::vector<Endpoint>> resolved = request.resolver
                                                      ? request.resolver(target->host, target->port)
                                                      : ResolveHost(target->host, target->port);
  if (!resolved || resolved->empty()) return {0, "cannot resolve " + target->host};
  // One refused address refuses the name: which address a later lookup or
  // curl would pick is not ours to predict.
  for (const Endpoint& endpoint : *resolved) {
    if (std::optional<std::string_view> why = AddressRefusal(endpoint.sockaddr_ref()))
      return {0, "address refused: " + EndpointAddressText(endpoint) + " is " + std::string(*why)};
  }
  Pinned pinned{*resolved};

  CurlPtr easy(curl_easy_init());
  if (!easy) return {0, "no curl handle"};
  CurlSlistPtr headers;
  for (const std::string& header : request.headers) {
    if (!AppendLine(headers, header.c_str())) return {0, "out of memory"};
  }
  CurlSlistPtr pins;
  // A literal address needs no lookup; for a name, curl's own lookup is
  // replaced by the vetted addresses.
  if (!NumericEndpoint(target->host, target->port) &&
      !AppendLine(pins, ResolveEntry(*target, pinned.endpoints).c_str()))
    return {0, "out of memory"};

  char error[CURL_ERROR_SIZE] = "";
  CURL* h = easy.get();
  const long limit_ms = static_cast<long>(request.time_limit.count());
  curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(h, CURLOPT_POST, 1L);
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
  curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, limit_ms);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, limit_ms);
  // Several apartments post at once; signals would reach the wrong thread.
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  // The server reaches exactly the host that was allowed, never another.
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_PROXY, "");
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_RESOLVE, pins.get());
  curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, OpenPinnedSocket);
  curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, &pinned);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, DiscardBody);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);

  const CURLcode code = curl_easy_perform(h);
  HttpPostResult result;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.status);
  if (code != CURLE_OK && pinned.refused)
    result.error = "address refused: not one the host was resolved to";
  else if (code != CURLE_OK)
    result.error = error[0] ? error : curl_easy_strerror(code);
  return result;
}

}  // namespace qz
