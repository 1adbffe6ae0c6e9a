// What the server says after each dispatch run: its log lines (one per
// channel step, then the outcome) and the Delivered signal on the factory
// path for monitors (`qznotes watch`). Safe from any thread.
#pragma once

#include <gio/gio.h>

#include <string>
#include <string_view>

#include "dispatch/dispatch_trace.h"
#include "platform/holders.h"

namespace qz {

// `object` is the object's short path, "cNotify/3"; `note` ends the outcome
// line (" (replayed)" for a run the journal brought back). A request whose
// creator is known (`owner`, with the object's full `path`) also sends the
// signal to it alone, on that path.
void ReportDelivery(GDBusConnection* connection, std::string_view object,
                    const DispatchTrace& trace, std::string_view note = {},
                    const std::string& owner = {}, const std::string& path = {});

// The body of the Delivered signal, (s testId, s outcome, as details); every
// text is valid UTF-8, and the details are escaped as the log escapes them.
VariantPtr DeliveredSignalBody(const DispatchTrace& trace);

}  // namespace qz
