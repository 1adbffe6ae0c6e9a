#include "server/heap_trim.h"

#include <malloc.h>

#include <atomic>
#include <utility>

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

struct HeapTrimmer::State {
  MainContextPtr context;
  std::atomic<bool> pending{false};
};

namespace {

using SharedTrimState = std::shared_ptr<HeapTrimmer::State>;

// A copy of the state for GLib to hold: released by the matching destroy
// notification.
gpointer HeldTrimState(const SharedTrimState& state) {
  return std::make_unique<SharedTrimState>(state).release();
}

SharedTrimState TakeTrimState(gpointer held) {
  return std::move(*std::unique_ptr<SharedTrimState>(static_cast<SharedTrimState*>(held)));
}

void RequestTrim(const SharedTrimState& state) {
  if (state->pending.exchange(true)) return;
  GSource* idle = g_idle_source_new();
  g_source_set_priority(idle, G_PRIORITY_LOW);
  g_source_set_callback(
      idle,
      [](gpointer held) -> gboolean {
        // Cleared first: what is freed while this trim runs asks for another.
        static_cast<SharedTrimState*>(held)->get()->pending = false;
        malloc_trim(0);
        return G_SOURCE_REMOVE;
      },
      HeldTrimState(state), [](gpointer held) { TakeTrimState(held); });
  g_source_attach(idle, state->context.get());
  g_source_unref(idle);
}

}  // namespace

HeapTrimmer::HeapTrimmer(GMainContext* context) : state_(std::make_shared<State>()) {
  state_->context.reset(g_main_context_ref(context));
}

void HeapTrimmer::Request() const { RequestTrim(state_); }

void HeapTrimmer::TrimWhenFreed(GDBusMessage* message) const {
  GVariant* body = g_dbus_message_get_body(message);
  if (!body || g_variant_get_size(body) < kTrimAfterBytes) return;
  // Data is dropped at the very end of finalising, after the body is freed,
  // on whichever thread let the message go.
  static GQuark key = g_quark_from_static_string("qz-trim-when-freed");
  g_object_set_qdata_full(G_OBJECT(message), key, HeldTrimState(state_),
                          [](gpointer held) { RequestTrim(TakeTrimState(held)); });
}

}  // namespace qz
