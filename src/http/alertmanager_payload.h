// The body Alertmanager's webhook_config posts (format version "4"), read
// into plain values. Fields it may add in later releases are ignored; a
// known field of the wrong type is a fault, named by its JSON path, so the
// sender learns what to fix instead of a page going out half empty.
// Pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

using AlertLabels = std::map<std::string, std::string, std::less<>>;

struct AlertmanagerAlert {
  std::string status;  // "firing" or "resolved"
  AlertLabels labels;
  AlertLabels annotations;
  std::string starts_at;  // RFC 3339, as sent
  std::string ends_at;
  std::string generator_url;
  std::string fingerprint;
};

struct AlertmanagerPayload {
  std::string version;
  std::string group_key;
  uint64_t truncated_alerts = 0;
  std::string status;
  std::string receiver;
  AlertLabels group_labels;
  AlertLabels common_labels;
  AlertLabels common_annotations;
  std::string external_url;
  std::vector<AlertmanagerAlert> alerts;
};

struct PayloadFault {
  std::string path;    // "$.alerts[1].labels.severity"
  std::string detail;  // "must be a string"
};

struct ParsedPayload {
  std::optional<AlertmanagerPayload> payload;  // set when the body is good
  PayloadFault fault;                          // why not, otherwise
};

// Nesting deeper than this is refused before the JSON parser sees it; a
// real payload is four levels deep.
inline constexpr size_t kMaxAlertmanagerDepth = 32;

ParsedPayload ParseAlertmanagerPayload(std::string_view body);

}  // namespace qz
