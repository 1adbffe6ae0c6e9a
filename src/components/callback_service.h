// The built-in component "qzCallback.cService". Created on a local host it
// calls back over D-Bus; on any other host it posts over HTTP, and when the
// server serves the system bus only to hosts listed in QzNotes.ini
// [Callback] AllowedHosts (read afresh at every creation). Registration is
// done once at start-up; the factory is safe from any thread.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <string>

#include "automation/component_registry.h"
#include "components/callback_worker.h"
#include "diagnostics/metrics.h"

namespace qz {

struct CallbackServiceOptions {
  GDBusConnection* connection = nullptr;  // the server's bus; a reference is kept
  bool system_bus = false;                // remote hosts must be allowed
  std::string folder;                     // program folder holding QzNotes.ini
  std::chrono::milliseconds http_time_limit{5000};
  CallbackWorker* http_worker = nullptr;  // posts HTTP callbacks; null: on the caller's thread
  Metrics* metrics = nullptr;             // counts the HTTP callbacks; null: none
};

// Registers the factory under kCallbackProgId. The factory yields nothing
// (creation fails with 429) for a local host without a connection, a host
// that makes no http(s) URL, and on the system bus a host not allowed.
void RegisterCallbackService(ComponentRegistry& registry, CallbackServiceOptions options);

}  // namespace qz
