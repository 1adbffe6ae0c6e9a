#include "client/client_app.h"

#include "client/bus_connection.h"
#include "client/command_line.h"
#include "client/command_table.h"
#include "client/help_text.h"
#include "client/runners.h"
#include "client/user_report.h"

namespace qz::client {

ExitStatus RunClient(std::span<const std::string_view> words, Console console) {
  const ParsedCommandLine parsed = ParseCommandLine(words);
  const Invocation& inv = parsed.invocation;
  if (!parsed.error.empty()) {
    ReportUsage(console, inv.global.json, parsed.error, "qznotes --help lists the commands");
    return kExitUsage;
  }
  if (const auto* help = std::get_if<HelpCommand>(&inv.command)) {
    console.out << HelpText(help->topic);
    return kExitOk;
  }
  if (std::holds_alternative<VersionCommand>(inv.command)) {
    console.out << "qznotes " << QZ_VERSION << "\n";
    return kExitOk;
  }
  const CommandEntry* entry = FindCommand(inv.command_name);
  if (!entry) return kExitUsage;  // the parser names only commands of the table
  if (!inv.global.url.empty()) return entry->run_remote(inv.global, inv.command, console);
  if (entry->offline) return entry->run(nullptr, inv.global, inv.command, console);
  ErrorPtr error;
  ConnectionPtr connection = OpenBus(inv.global, error);
  if (!connection) return ReportFailure(error.get(), inv.global, console);
  return entry->run(connection.get(), inv.global, inv.command, console);
}

}  // namespace qz::client
