// The whole qznotes program behind main(): parses the words, prints help or
// a usage error, opens the bus and runs the command. Main thread only.
#pragma once

#include <span>
#include <string_view>

#include "client/console.h"
#include "client/exit_status.h"

namespace qz::client {

ExitStatus RunClient(std::span<const std::string_view> words, Console console);

}  // namespace qz::client
