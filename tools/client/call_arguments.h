// Builds the parameters of `qznotes call` from its argument words: the
// tuple of a named method call, or the (i av) of IDispatch.Invoke. Each word
// is read for its parameter's type (see arg_notation.h). Pure functions;
// safe from any thread.
#pragma once

#include <span>
#include <string>

#include "client/operations.h"
#include "platform/holders.h"

namespace qz::client {

struct BuiltArguments {
  VariantPtr parameters;  // null when `error` says why
  std::string error;
};

// Trailing Variant parameters left out are sent as Missing, as an optional
// argument the client did not give.
BuiltArguments NamedCallArguments(const Operation& op, std::span<const std::string> words);

// `op` may be null (an identifier the interface does not list): every word
// is then read as a Variant. Words beyond the operation's parameters are
// sent too, so the server can refuse them.
BuiltArguments InvokeArguments(const Operation* op, int32_t dispid,
                               std::span<const std::string> words);

}  // namespace qz::client
