#include "client/client_app.h"

#include "client/bus_connection.h"
#include "client/command_line.h"
#include "client/help_text.h"
#include "client/journal_command.h"
#include "client/runners.h"

namespace qz::client {

ExitStatus RunClient(std::span<const std::string_view> words, Console console) {
  // Works on files, not the bus: the daemon may be down.
  if (IsJournalCommand(words)) {
    std::string error;
    std::optional<JournalCommand> journal = ParseJournal(words, error);
    if (!journal) {
      console.err << "qznotes: " << error << "\n(qznotes journal --help shows its options)\n";
      return kExitUsage;
    }
    return RunJournal(*journal, console);
  }
  const ParsedCommandLine parsed = ParseCommandLine(words);
  if (!parsed.error.empty()) {
    console.err << "qznotes: " << parsed.error << "\n(qznotes --help lists the commands)\n";
    return kExitUsage;
  }
  const Invocation& inv = parsed.invocation;
  if (const auto* help = std::get_if<HelpCommand>(&inv.command)) {
    console.out << HelpText(help->topic);
    return kExitOk;
  }
  if (std::holds_alternative<VersionCommand>(inv.command)) {
    console.out << "qznotes " << QZ_VERSION << "\n";
    return kExitOk;
  }
  ErrorPtr error;
  ConnectionPtr connection = OpenBus(inv.global, error);
  if (!connection) return ReportFailure(error.get(), console);
  if (const auto* send = std::get_if<SendCommand>(&inv.command))
    return RunSend(connection.get(), inv.global, *send, console);
  if (const auto* settings = std::get_if<SettingsCommand>(&inv.command))
    return RunSettings(connection.get(), inv.global, *settings, console);
  if (const auto* test = std::get_if<TestGatewayCommand>(&inv.command))
    return RunTestGateway(connection.get(), inv.global, *test, console);
  if (const auto* profiles = std::get_if<ProfilesCommand>(&inv.command))
    return RunProfiles(connection.get(), inv.global, *profiles, console);
  return RunCall(connection.get(), inv.global, std::get<CallCommand>(inv.command), console);
}

}  // namespace qz::client
