// GLib before 2.76 allocates GVariants and other small blocks from GSlice,
// whose caches keep freed blocks for good: after a large request the
// daemon would stay at its peak however the heap is trimmed. With
// G_SLICE=always-malloc they come from malloc and go back with it. GSlice
// reads the setting when GLib loads, so the daemon runs itself again with it
// set, once, at start.
#pragma once

namespace qz {

// Returns only when nothing needs doing or the new start failed (the
// daemon then runs as it is). `argv` as main received it.
void RestartWithMallocSlices(char** argv);

}  // namespace qz
