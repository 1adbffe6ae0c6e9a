#include "server/heap_trim.h"

#include <malloc.h>

namespace qz {

void KeepHeapThresholdsFixed() {
  // glibc's own starting values, kept: blocks of 128 KiB and more are mapped
  // apart and unmapped when freed, and a free top of an arena past 128 KiB
  // goes back at once.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  mallopt(M_TRIM_THRESHOLD, 128 * 1024);
}

void ReturnTicket(std::optional<CallerLedger::Ticket>& ticket, Apartment& apartment) {
  if (!ticket) return;
  const bool large = ticket->bytes() >= kTrimAfterBytes;
  ticket.reset();
  if (large) apartment.Post([] { malloc_trim(0); });
}

void TrimWhenFreed(GDBusMessage* message) {
  GVariant* body = g_dbus_message_get_body(message);
  if (!body || g_variant_get_size(body) < kTrimAfterBytes) return;
  // Data is dropped at the very end of finalising, after the body is freed,
  // on whichever thread let the message go.
  static GQuark key = g_quark_from_static_string("qz-trim-when-freed");
  g_object_set_qdata_full(G_OBJECT(message), key, message, [](gpointer) { malloc_trim(0); });
}

}  // namespace qz
