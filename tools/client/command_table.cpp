#include "client/command_table.h"

#include <array>

#include "client/help_text.h"
#include "client/remote_runs.h"
#include "client/runners.h"

namespace qz::client {
namespace {

// Hands a runner the command it was written for.
template <typename C, ExitStatus (*Run)(GDBusConnection*, const GlobalOptions&, const C&, Console)>
ExitStatus RunAs(GDBusConnection* connection, const GlobalOptions& global, const Command& command,
                 Console console) {
  return Run(connection, global, std::get<C>(command), console);
}

template <typename C, ExitStatus (*Run)(const GlobalOptions&, const C&, Console)>
ExitStatus RunRemoteAs(const GlobalOptions& global, const Command& command, Console console) {
  return Run(global, std::get<C>(command), console);
}

const std::array<CommandEntry, 9> kCommands = {{
    {"send", "hand the server a notification request", kSendHelp, ParseSend,
     RunAs<SendCommand, RunSend>, false, RunRemoteAs<SendCommand, RunRemoteSend>},
    {"settings", "show, read or change the gateway settings", kSettingsHelp, ParseSettings,
     RunAs<SettingsCommand, RunSettings>},
    {"call", "call any operation by name or dispatch identifier; --list lists them", kCallHelp,
     ParseCall, RunAs<CallCommand, RunCall>},
    {"test-gateway", "INDEX NUMBER: send a test message through one paging gateway",
     TestGatewayHelp(), ParseTestGateway, RunAs<TestGatewayCommand, RunTestGateway>, false,
     RunRemoteAs<TestGatewayCommand, RunRemoteTestGateway>},
    {"profiles", "list, set or remove the server's mail profiles", kProfilesHelp, ParseProfiles,
     RunAs<ProfilesCommand, RunProfiles>},
    {"watch", "print each delivery's outcome as the server reports it", kWatchHelp, ParseWatch,
     RunAs<WatchCommand, RunWatch>, false, RunRemoteAs<WatchCommand, RunRemoteWatch>},
    {"journal", "list, clear or retry the requests kept for a restart or that failed", kJournalHelp,
     ParseJournal, RunAs<JournalCommand, RunJournal>, /*offline=*/true},
    {"status", "what the server is doing: requests, journal, gateways, limits", kStatusHelp,
     ParseStatus, RunAs<StatusCommand, RunStatus>, false,
     RunRemoteAs<StatusCommand, RunRemoteStatus>},
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

std::string RemoteOptionsError(const GlobalOptions& global, const CommandEntry& entry) {
  if (global.url.empty()) {
    if (!global.token_file.empty() || !global.cacert.empty() || global.insecure)
      return "--token-file, --cacert and --insecure go with --url";
    return "";
  }
  if (!entry.run_remote) {
    std::string remote;
    for (const CommandEntry& c : kCommands)
      if (c.run_remote) remote += (remote.empty() ? "" : ", ") + std::string(c.name);
    return std::string(entry.name) + " is D-Bus only: --url reaches " + remote;
  }
  if (global.bus != BusKind::kSession || global.destination != kBusName)
    return "--url replaces the bus options (--system, --address, --dest)";
  if (!global.url.starts_with("https://") && !global.url.starts_with("http://"))
    return "--url takes an https:// (or http://) URL, not " + global.url;
  if (global.token_file.empty()) return "--url needs --token-file FILE";
  if (!global.cacert.empty() && global.insecure)
    return "--cacert and --insecure exclude each other";
  return "";
}

}  // namespace qz::client
