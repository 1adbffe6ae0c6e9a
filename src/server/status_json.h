// The status view as the HTTP API answers GET /v1/status: the same JSON
// that `qznotes status --json` prints of the Status call. Main thread, as
// the status view's sources are.
#pragma once

#include <string>

#include "http/http_answer.h"
#include "server/status_view.h"

namespace qz {

// 503 while the server is not serving yet (no sources).
HttpAnswer StatusJson(const StatusSources* sources, const std::string& folder);

}  // namespace qz
