// What a failed D-Bus call means to the user: a run-time error the server
// raised (exit 1) or a failure of the bus itself (exit 2). Pure functions;
// safe from any thread.
#pragma once

#include <glib.h>

#include <string>

#include "client/exit_status.h"

namespace qz::client {

struct CallFailure {
  bool raised_by_server = false;
  std::string code;     // "E13", "N5"; empty for bus failures
  std::string message;  // "<source>: <description>" or the bus's own text
};

CallFailure DescribeFailure(const GError* error);

// "error E13: QzNotes: Type mismatch" or "qznotes: <message>".
std::string FailureLine(const CallFailure& failure);

ExitStatus ExitForFailure(const CallFailure& failure);

}  // namespace qz::client
