// Where a command writes: standard output for results, standard error for
// errors. Streams are borrowed; one command at a time uses them.
#pragma once

#include <ostream>

namespace qz::client {

struct Console {
  std::ostream& out;
  std::ostream& err;
};

}  // namespace qz::client
