// What `qznotes call` prints for a reply: the operation's result and its
// by-reference values, paired with their parameter names. Pure functions;
// safe from any thread.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "client/operations.h"
#include "platform/holders.h"

namespace qz::client {

struct CallAnswer {
  VariantPtr result;  // null for an operation without one
  std::vector<std::pair<std::string, VariantPtr>> by_reference;
};

// The reply of a named call: out-arguments in the order `op` declares them.
CallAnswer AnswerOfNamedCall(const Operation& op, GVariant* reply);

// Invoke's (v result, av byref); names come from `op` when it is known,
// else the positions "0", "1", ...
CallAnswer AnswerOfInvoke(const Operation* op, GVariant* reply);

// The result as FormatText shows it, then one "name: value" per
// by-reference value (a value of several lines starts on the next line).
std::string AnswerText(const CallAnswer& answer);

// {"result":...,"byref":{"name":...}}
std::string AnswerJson(const CallAnswer& answer);

}  // namespace qz::client
