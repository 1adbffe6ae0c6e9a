#include "server/server_log.h"

#include <unistd.h>

#include <string>

#include "diagnostics/log_text.h"

namespace qz {

void ServerLog(std::string_view line) {
  // Lines carry callers' texts (test identifiers, error descriptions); with
  // every control character escaped, no caller can end this line, forge a
  // following one or send sequences to a terminal showing the log.
  std::string text = "qznotesd: " + EscapeControls(line) + "\n";
  ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
  (void)ignored;
}

}  // namespace qz
