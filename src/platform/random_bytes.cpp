#include "platform/random_bytes.h"

#include <sys/random.h>

#include <cerrno>

namespace qz {

bool FillRandom(std::span<unsigned char> out) {
  for (size_t got = 0; got < out.size();) {
    const ssize_t n = getrandom(out.data() + got, out.size() - got, 0);
    if (n < 0 && errno != EINTR) return false;
    if (n > 0) got += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace qz
