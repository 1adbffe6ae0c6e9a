#include "client/command_line.h"

#include "client/command_table.h"
#include "client/option_set.h"

namespace qz::client {

ParsedCommandLine ParseCommandLine(std::span<const std::string_view> words) {
  ParsedCommandLine parsed;
  Invocation& inv = parsed.invocation;
  // The program's own options stop at the command's name; the command reads
  // the rest, bus options among its own.
  OptionSet program(inv.global);
  bool version = false;
  program.Flag("version", 0, [&version] { version = true; });
  program.StopAtFirstWord();
  program.LeaveWordsToCommand();
  const std::vector<std::string> rest = program.Parse(words);
  if (program.help()) {
    inv.command = HelpCommand{};
    return parsed;
  }
  if (program.failed()) {
    parsed.error = program.status().message();
    return parsed;
  }
  if (version) {
    inv.command = VersionCommand{};
    return parsed;
  }
  if (rest.empty()) {
    parsed.error = "no command given (" + CommandNames() + ")";
    return parsed;
  }
  const std::vector<std::string_view> tail(rest.begin() + 1, rest.end());
  if (rest[0] == "help") {
    HelpCommand help;
    if (!tail.empty()) help.topic = tail[0];
    if (tail.size() > 1) {
      parsed.error = "help takes one command";
    } else if (!help.topic.empty() && !FindCommand(help.topic)) {
      parsed.error = "no command " + help.topic + " (" + CommandNames() + ")";
    }
    inv.command = help;
    return parsed;
  }
  const CommandEntry* entry = FindCommand(rest[0]);
  if (!entry) {
    parsed.error = "no command " + rest[0] + " (" + CommandNames() + ")";
    return parsed;
  }
  OptionSet options(inv.global);
  inv.command = entry->parse(options, tail);
  if (options.help()) {
    inv.command = HelpCommand{std::string(entry->name)};
    return parsed;
  }
  inv.command_name = entry->name;
  parsed.error = options.status().message();
  if (parsed.error.empty()) parsed.error = RemoteOptionsError(inv.global, *entry);
  return parsed;
}

}  // namespace qz::client
