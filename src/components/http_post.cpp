#include "components/http_post.h"

#include <curl/curl.h>

#include <memory>

#include "platform/holders.h"

namespace qz {
namespace {

void InitialiseCurlOnce() {
  static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
  (void)initialised;
}

size_t DiscardBody(char*, size_t size, size_t count, void*) { return size * count; }

}  // namespace

HttpPostResult HttpPost(const HttpPostRequest& request) {
  InitialiseCurlOnce();
  CurlPtr easy(curl_easy_init());
  if (!easy) return {0, "no curl handle"};

  CurlSlistPtr headers;
  for (const std::string& header : request.headers) {
    curl_slist* grown = curl_slist_append(headers.get(), header.c_str());
    if (!grown) return {0, "out of memory"};
    (void)headers.release();  // `grown` now owns the old list
    headers.reset(grown);
  }

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
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, DiscardBody);
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);

  const CURLcode code = curl_easy_perform(h);
  HttpPostResult result;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.status);
  if (code != CURLE_OK) result.error = error[0] ? error : curl_easy_strerror(code);
  return result;
}

}  // namespace qz
