// libcurl's global set-up, done once for the whole process before the first
// transfer: the HTTP callback, the SMTP transport and the SMS gateway each
// call it, from any thread.
#pragma once

#include <curl/curl.h>

namespace qz {

inline void InitialiseCurlOnce() {
  static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
  (void)initialised;
}

}  // namespace qz
