// Gives the heap back to the system after a large call or request: glibc
// keeps freed memory in its arenas, so without a trim the daemon would stay
// at the size of its largest request. Small calls pay nothing.
#pragma once

#include <gio/gio.h>

#include <cstddef>
#include <memory>
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

// Trims the heap on a main loop when it is otherwise idle; any number of
// requests before the trim runs make one trim. A trim walks every arena
// under its lock: on the GDBus worker it held up every caller's next call,
// and a flood of large calls made one trim per call. Safe from any thread;
// copies share the pending trim.
class HeapTrimmer {
 public:
  explicit HeapTrimmer(GMainContext* context);

  void Request() const;
  // Requests a trim once `message` is freed, when its body is large. GDBus
  // parsed it into many small blocks that stay in the allocator's free
  // lists after they are freed; a refused call has no ticket that would
  // trim afterwards.
  void TrimWhenFreed(GDBusMessage* message) const;

  struct State;  // shared with the pending trim and the messages that will ask for one

 private:
  std::shared_ptr<State> state_;
};

}  // namespace qz
