#include "components/callback_target.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>

#include "automation/names.h"
#include "platform/holders.h"

namespace qz {
namespace {

std::optional<std::string> Part(CURLU* url, CURLUPart part) {
  char* raw = nullptr;
  if (curl_url_get(url, part, &raw, 0) != CURLUE_OK) return std::nullopt;
  CurlText text(raw);
  return std::string(text.get());
}

bool HasUnsafeCharacters(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](unsigned char c) { return c <= ' ' || c == 0x7f; });
}

}  // namespace

std::optional<CallbackTarget> ParseCallbackTarget(std::string_view host) {
  if (host.empty() || HasUnsafeCharacters(host)) return std::nullopt;
  const bool has_scheme = host.find("://") != std::string_view::npos;
  std::string text = has_scheme ? std::string(host) : "http://" + std::string(host);

  CurlUrlPtr url(curl_url());
  if (!url || curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK)
    return std::nullopt;
  // Credentials would be sent to whoever answers; a callback never needs them.
  if (Part(url.get(), CURLUPART_USER)) return std::nullopt;
  std::optional<std::string> scheme = Part(url.get(), CURLUPART_SCHEME);
  if (!scheme || (*scheme != "http" && *scheme != "https")) return std::nullopt;
  // The host comes back percent-decoded: "%7F" or "%0A" in it are control
  // characters now, which no host name holds.
  std::optional<std::string> name = Part(url.get(), CURLUPART_HOST);
  if (!name || name->empty() || HasUnsafeCharacters(*name)) return std::nullopt;

  std::optional<std::string> path = Part(url.get(), CURLUPART_PATH);
  if (!path || *path == "/") {
    if (curl_url_set(url.get(), CURLUPART_PATH, std::string(kDefaultCallbackPath).c_str(), 0) !=
        CURLUE_OK)
      return std::nullopt;
  }
  std::optional<std::string> whole = Part(url.get(), CURLUPART_URL);
  if (!whole || HasUnsafeCharacters(*whole)) return std::nullopt;

  std::string bare = FoldName(*name);
  if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']')
    bare = bare.substr(1, bare.size() - 2);
  return CallbackTarget{std::move(*whole), std::move(bare)};
}

}  // namespace qz
