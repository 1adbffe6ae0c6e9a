#include "server/slice_setting.h"

#include <glib.h>
#include <unistd.h>

#include <cstdlib>

namespace qz {

void RestartWithMallocSlices(char** argv) {
  // From 2.76 on GSlice is malloc itself; an operator's own setting stands.
  if (glib_check_version(2, 76, 0) == nullptr || std::getenv("G_SLICE")) return;
  setenv("G_SLICE", "always-malloc", 1);
  execv("/proc/self/exe", argv);
}

}  // namespace qz
