#include "server/serving_summary.h"

namespace qz {

std::string ServingSummary(size_t pending, bool stopping) {
  return std::string(stopping ? "stopping: " : "serving: ") + std::to_string(pending) + " pending";
}

}  // namespace qz
