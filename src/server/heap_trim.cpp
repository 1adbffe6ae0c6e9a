#include "server/heap_trim.h"

#include <malloc.h>

namespace qz {

void ReturnTicket(std::optional<CallerLedger::Ticket>& ticket, Apartment& apartment) {
  if (!ticket) return;
  const bool large = ticket->bytes() >= kTrimAfterBytes;
  ticket.reset();
  if (large) apartment.Post([] { malloc_trim(0); });
}

}  // namespace qz
