// How qznotes tells the user what went wrong or what will not work as it
// seems: one report on standard error, plain text or, with --json, one JSON
// object per line, so scripts never have to parse prose. Pure formatting;
// main thread only, as the console.
#pragma once

#include <glib.h>

#include <string>
#include <string_view>

#include "client/commands.h"
#include "client/console.h"
#include "client/exit_status.h"

namespace qz::client {

// A command line or an argument that cannot be used (exit 2).
// Text: "qznotes: MESSAGE" and "(HINT)"; JSON: {"error":{"kind":"usage",...}}.
void ReportUsage(Console console, bool json, std::string_view message, std::string_view hint = {});

// Any other failure of `kind` ("bus", "timeout", "answer"): "qznotes: MESSAGE"
// or {"error":{"kind":KIND,"message":MESSAGE}}.
void ReportProblem(Console console, bool json, std::string_view kind, std::string_view message);

// "qznotes: warning: MESSAGE" or {"warning":"MESSAGE"}.
void ReportWarning(Console console, bool json, std::string_view message);

// A failed call: a run-time error the server raised (exit 1, kind "server",
// with its code) or a failure of the bus (exit 2, kind "bus"). When no server
// answers, the report says how to start one.
ExitStatus ReportFailure(const GError* error, const GlobalOptions& global, Console console);

// What to do when the bus or the server's name is not there; empty for any
// other failure.
std::string StartHint(const GError* error, const GlobalOptions& global);

}  // namespace qz::client
