// Gives the heap back to the system after a large call or request: glibc
// keeps freed memory in its arenas, so without a trim the daemon would stay
// at the size of its largest request. Small calls pay nothing.
#pragma once

#include <gio/gio.h>

#include <cstddef>
#include <optional>

#include "automation/apartment.h"
#include "server/caller_ledger.h"

namespace qz {

// Arguments of at least this many bytes make a call large.
inline constexpr size_t kTrimAfterBytes = 1024 * 1024;

// Fixes glibc's thresholds at start. Left dynamic, freeing one large
// message raises them to its size, after which thread arenas keep that much
// resident at their top, where malloc_trim does not reach.
void KeepHeapThresholdsFixed();

// Returns `ticket`, if any; when it counted a large call, the heap is
// trimmed once the apartment's current work (and what it frees) has ended.
// Apartment thread.
void ReturnTicket(std::optional<CallerLedger::Ticket>& ticket, Apartment& apartment);

// Trims the heap once `message` is freed, when its body is large. GDBus
// parsed it into many small blocks that stay in the allocator's free lists
// after they are freed; a refused call has no ticket that would trim
// afterwards. Any thread.
void TrimWhenFreed(GDBusMessage* message);

}  // namespace qz
