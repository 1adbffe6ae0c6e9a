#include "client/command_table.h"

#include <array>

#include "client/help_text.h"
#include "client/runners.h"

namespace qz::client {
namespace {

// Hands a runner the command it was written for.
template <typename C, ExitStatus (*Run)(GDBusConnection*, const GlobalOptions&, const C&, Console)>
ExitStatus RunAs(GDBusConnection* connection, const GlobalOptions& global, const Command& command,
                 Console console) {
  return Run(connection, global, std::get<C>(command), console);
}

const std::array<CommandEntry, 9> kCommands = {{
    {"send", "hand the server a notification request", kSendHelp, ParseSend,
     RunAs<SendCommand, RunSend>},
    {"settings", "show, read or change the gateway settings", kSettingsHelp, ParseSettings,
     RunAs<SettingsCommand, RunSettings>},
    {"call", "call any operation by name or dispatch identifier; --list lists them", kCallHelp,
     ParseCall, RunAs<CallCommand, RunCall>},
    {"test-gateway", "INDEX NUMBER: send a test message through one paging gateway",
     TestGatewayHelp(), ParseTestGateway, RunAs<TestGatewayCommand, RunTestGateway>},
    {"profiles", "list, set or remove the server's mail profiles", kProfilesHelp, ParseProfiles,
     RunAs<ProfilesCommand, RunProfiles>},
    {"watch", "print each delivery's outcome as the server reports it", kWatchHelp, ParseWatch,
     RunAs<WatchCommand, RunWatch>},
    {"journal", "list, clear or retry the requests kept for a restart or that failed", kJournalHelp,
     ParseJournal, RunAs<JournalCommand, RunJournal>, /*offline=*/true},
    {"status", "what the server is doing: requests, journal, gateways, limits", kStatusHelp,
     ParseStatus, RunAs<StatusCommand, RunStatus>},
    {"tokens", "add, list or remove the bearer tokens of the HTTP API", kTokensHelp, ParseTokens,
     RunAs<TokensCommand, RunTokens>, /*offline=*/true},
}};

}  // namespace

std::span<const CommandEntry> AllCommands() { return kCommands; }

const CommandEntry* FindCommand(std::string_view name) {
  for (const CommandEntry& c : kCommands) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

std::string CommandNames() {
  std::string names;
  for (const CommandEntry& c : kCommands) names += std::string(c.name) + ", ";
  return names + "help";
}

}  // namespace qz::client
