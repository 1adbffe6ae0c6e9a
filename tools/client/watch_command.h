// What `qznotes watch` asks for: how many Delivered signals to print before
// it ends (0: until interrupted). A plain value.
#pragma once

namespace qz::client {

struct WatchCommand {
  int count = 0;
};

}  // namespace qz::client
