#include "components/json_text.h"
#include "http/front_door.h"

namespace qz {

HttpAnswer Problem(unsigned status, std::string_view title, std::string_view detail,
                   std::string_view json_path) {
  std::string body = "{\"type\":\"about:blank\",\"status\":" + std::to_string(status) +
                     ",\"title\":" + JsonString(title) + ",\"detail\":" + JsonString(detail);
  if (!json_path.empty()) body += ",\"path\":" + JsonString(json_path);
  body += "}\n";
  return {status, "application/problem+json", std::move(body)};
}

}  // namespace qz
