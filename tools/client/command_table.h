// The commands of qznotes, one entry each: its name, its line in the general
// help, its own help text, the parser of its words and the runner that talks
// to the server. Adding a command is one parser, one runner and one entry
// here. Constant table; safe from any thread.
#pragma once

#include <gio/gio.h>

#include <span>
#include <string>
#include <string_view>

#include "client/command_parsers.h"
#include "client/console.h"
#include "client/exit_status.h"

namespace qz::client {

struct CommandEntry {
  std::string_view name;
  std::string_view summary;  // "send       hand the server ..." without the name
  std::string_view help;     // `qznotes help NAME`, `qznotes NAME --help`
  Command (*parse)(OptionSet& options, CommandWords words);
  ExitStatus (*run)(GDBusConnection* connection, const GlobalOptions& global,
                    const Command& command, Console console);
  bool offline = false;  // runs without the bus (reads the program folder)
  // With --url: the same command over the server's HTTP API; null for the
  // commands only the bus offers.
  ExitStatus (*run_remote)(const GlobalOptions& global, const Command& command,
                           Console console) = nullptr;
};

std::span<const CommandEntry> AllCommands();
const CommandEntry* FindCommand(std::string_view name);
// "send, settings, call, ..., help" for messages.
std::string CommandNames();
// Why the remote options cannot go with this command line; empty when they can.
std::string RemoteOptionsError(const GlobalOptions& global, const CommandEntry& entry);

}  // namespace qz::client
