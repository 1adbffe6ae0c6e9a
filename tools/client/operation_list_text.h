// What `qznotes call --list` prints: each operation of a class with its
// dispatch identifier and parameters, as text lines or one JSON array. Pure
// functions; safe from any thread.
#pragma once

#include <string>
#include <vector>

#include "client/operations.h"

namespace qz::client {

// "0x6003000A  gvarGetSettings() -> v" per operation, in the class's order;
// "-" stands for an operation without a dispatch identifier.
std::string OperationsText(const std::vector<Operation>& operations);

// [{"name":"gvarTestGateway","dispid":1610809357,"hex":"0x6003000D",
//   "parameters":[{"name":"Index","type":"n"},...],"results":[{"name":"result","type":"v"}]},...]
std::string OperationsJson(const std::vector<Operation>& operations);

}  // namespace qz::client
