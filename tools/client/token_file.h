// Reads the bearer token qznotes hands a remote server. The file holds the
// token on one line and must be readable by its owner alone: a token others
// can read is a token others can use. Pure function of the file; safe from
// any thread.
#pragma once

#include <string>

namespace qz::client {

struct TokenRead {
  std::string token;
  std::string error;  // non-empty: why the file cannot be used, for the user
};

TokenRead ReadTokenFile(const std::string& path);

}  // namespace qz::client
