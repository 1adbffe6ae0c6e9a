// Bytes from the kernel's random generator, for names and tokens nobody
// may guess. Safe from any thread.
#pragma once

#include <span>

namespace qz {

// Fills `out` (waiting for the generator at boot, retrying on a signal);
// false when the kernel gives no random bytes.
bool FillRandom(std::span<unsigned char> out);

}  // namespace qz
