// What the server says after each dispatch run: its log lines (one per
// channel step, then the outcome) and the Delivered signal on the factory
// path for monitors (`qznotes watch`). Safe from any thread.
#pragma once

#include <gio/gio.h>

#include <string_view>

#include "dispatch/dispatch_trace.h"
#include "platform/holders.h"

namespace qz {

// `object` is the object's short path, "cNotify/3"; `note` ends the outcome
// line (" (replayed)" for a run the journal brought back).
void ReportDelivery(GDBusConnection* connection, std::string_view object,
                    const DispatchTrace& trace, std::string_view note = {});

// The body of the Delivered signal, (s testId, s outcome, as details); every
// text is valid UTF-8, and the details are escaped as the log escapes them.
VariantPtr DeliveredSignalBody(const DispatchTrace& trace);

}  // namespace qz
