#include "server/server_log.h"

#include <unistd.h>

#include <string>

namespace qz {

void ServerLog(std::string_view line) {
  std::string text = "qznotesd: ";
  text.append(line);
  // Line breaks inside a text (CR LF of reported errors) would split the entry.
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  text += '\n';
  ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
  (void)ignored;
}

}  // namespace qz
