// qznotes journal list|clear: the server's request journal, read from the
// program folder directly so that it works while the daemon is down (an
// operator clearing a journal that stops the daemon from starting).
// Main thread only.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "client/console.h"
#include "client/exit_status.h"

namespace qz::client {

struct JournalCommand {
  enum class Action { kList, kClear, kHelp };
  Action action = Action::kList;
  bool system = false;                // the system daemon's folder
  std::optional<std::string> folder;  // --folder
};

// True when the command line is a journal command (its word after any
// --system or --session).
bool IsJournalCommand(std::span<const std::string_view> words);
// Nothing, with `error` set, for a command line it cannot read.
std::optional<JournalCommand> ParseJournal(std::span<const std::string_view> words,
                                           std::string& error);
ExitStatus RunJournal(const JournalCommand& command, Console console);

// The help of the command.
std::string_view JournalHelp();

}  // namespace qz::client
