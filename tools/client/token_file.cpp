#include "client/token_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/unique_fd.h"

namespace qz::client {
namespace {

// Far above any token the server makes; a larger file is no token file.
constexpr size_t kLongestTokenFile = 4096;

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

}  // namespace

TokenRead ReadTokenFile(const std::string& path) {
  // The mode is checked on the file that was opened, not on the name.
  const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!fd) return {"", "cannot read the token file " + path + ": " + std::strerror(errno)};
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
    return {"", "the token file " + path + " is no regular file"};
  if ((info.st_mode & 077) != 0)
    return {"", "the token file " + path + " can be read by others (mode " +
                    ModeText(info.st_mode) + "); make it private: chmod 600 " + path};
  std::string text(kLongestTokenFile + 1, '\0');
  ssize_t got = 0;
  size_t filled = 0;
  while (filled < text.size() &&
         (got = read(fd.get(), text.data() + filled, text.size() - filled)) > 0)
    filled += static_cast<size_t>(got);
  if (got < 0) return {"", "cannot read the token file " + path + ": " + std::strerror(errno)};
  if (filled > kLongestTokenFile)
    return {"", "the token file " + path + " is too long for a token"};
  text.resize(filled);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.empty()) return {"", "the token file " + path + " is empty"};
  for (unsigned char c : text) {
    // A header value cannot carry them, and a second line is no token.
    if (c <= 0x20 || c == 0x7f)
      return {"", "the token file " + path + " must hold the token alone on one line"};
  }
  return {text, ""};
}

}  // namespace qz::client
