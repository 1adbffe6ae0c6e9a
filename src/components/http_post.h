// One HTTP(S) POST with libcurl, bounded by a total time limit. It follows
// no redirects, ignores proxy settings of the environment, speaks only
// http and https, and discards the response body. The host is resolved
// here, every address it stands for is vetted (callback_address.h), and
// curl is pinned to exactly those addresses. Blocks the calling thread for
// the resolution and at most the limit; safe from any thread (each call has
// its own handle).
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "components/host_resolver.h"

namespace qz {

struct HttpPostRequest {
  std::string url;
  std::vector<std::string> headers;  // "Name: value"
  std::string body;
  std::chrono::milliseconds time_limit{5000};
  HostResolver resolver;  // empty: ResolveHost
};

struct HttpPostResult {
  long status = 0;    // HTTP status; 0 when no answer came
  std::string error;  // libcurl's text when the transfer failed

  bool ok() const { return error.empty() && status >= 200 && status < 300; }
};

HttpPostResult HttpPost(const HttpPostRequest& request);

}  // namespace qz
