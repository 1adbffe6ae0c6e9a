// Request bodies as a remote agent, a broken proxy or an attacker sends
// them: every body is either a request whose recipient lists run parallel
// to its messages, or a refusal that names a place in the body.
#include <cstdint>
#include <string_view>

#include "http/request_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  // Small limits too, so that the refusals at the limits are reached.
  for (const qz::JsonBodyLimits limits : {qz::JsonBodyLimits{}, qz::JsonBodyLimits{16, 4, 4096}}) {
    qz::BodyFault fault;
    if (auto request = qz::ParseRequestBody(body, limits, fault)) {
      for (const qz::NotificationGroup& group : request->groups)
        if (group.emails.size() != group.messages.size() ||
            group.pagers.size() != group.messages.size())
          __builtin_trap();
      if (qz::RequestArguments(*request).size() != 6) __builtin_trap();
    } else if (!fault.path.starts_with("$") || fault.detail.empty()) {
      __builtin_trap();
    }
    if (!qz::ParseGatewayTestBody(body, limits, fault) && !fault.path.starts_with("$"))
      __builtin_trap();
  }
  return 0;
}
