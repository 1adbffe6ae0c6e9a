// The exit statuses of qznotes and the answers that decide them. Pure
// functions; safe from any thread.
#pragma once

#include <glib.h>

#include <string_view>

namespace qz::client {

enum ExitStatus : int {
  kExitOk = 0,
  kExitFailed = 1,  // the server answered: refused, undeliverable, false, or a run-time error
  kExitUsage = 2,   // bad command line, bus failure, no callback in time
};

inline constexpr std::string_view kAcceptedAnswer = "Notes Server: Asynch mode";
inline constexpr std::string_view kSentMessage = "QzNotes: Message Sent";

// A request call's answer: accepted only as the exact acceptance text.
ExitStatus ExitForAnswer(GVariant* answer);

// The message a callback delivered.
ExitStatus ExitForCallback(std::string_view message);

// A Boolean result (possibly inside a Variant); anything else is no answer
// a script can act on.
ExitStatus ExitForBoolean(GVariant* result);

// The one rule for an operation that answered: a Boolean False is exit 1
// (`call` and `settings set` alike), any other result, or none, exit 0.
ExitStatus ExitForResult(GVariant* result);

}  // namespace qz::client
