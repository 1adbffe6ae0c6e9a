// Turns the words after the program name into an Invocation, without
// touching the bus, so every rule of the command line is testable on its own.
// Pure function; safe from any thread.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "client/commands.h"

namespace qz::client {

struct ParsedCommandLine {
  Invocation invocation;
  std::string error;  // non-empty: a usage error, exit status 2
};

ParsedCommandLine ParseCommandLine(std::span<const std::string_view> words);

}  // namespace qz::client
