// One HTTP answer: status, content type and body. A plain value; every part
// of the front door and the metrics page answer with it.
#pragma once

#include <string>

namespace qz {

struct HttpAnswer {
  unsigned status = 200;
  std::string content_type = "text/plain; charset=utf-8";
  std::string body = {};
};

}  // namespace qz
