#include "server/heap_trim.h"

#include <malloc.h>

namespace qz {

void KeepHeapThresholdsFixed() {
  // Blocks of 256 KiB and more are mapped apart and unmapped when freed; a
  // free top of an arena past 1 MiB goes back at once.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
}

void ReturnTicket(std::optional<CallerLedger::Ticket>& ticket, Apartment& apartment) {
  if (!ticket) return;
  const bool large = ticket->bytes() >= kTrimAfterBytes;
  ticket.reset();
  if (large) apartment.Post([] { malloc_trim(0); });
}

}  // namespace qz
