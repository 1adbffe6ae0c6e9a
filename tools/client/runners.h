// The commands that talk to the server, each given an open connection and
// answering the exit status. Main thread only: they block on the bus and
// `send --wait` runs the default main context.
#pragma once

#include <gio/gio.h>

#include "client/commands.h"
#include "client/console.h"
#include "client/exit_status.h"
#include "client/user_report.h"

namespace qz::client {

ExitStatus RunSend(GDBusConnection* connection, const GlobalOptions& global,
                   const SendCommand& send, Console console);
ExitStatus RunSettings(GDBusConnection* connection, const GlobalOptions& global,
                       const SettingsCommand& settings, Console console);
ExitStatus RunCall(GDBusConnection* connection, const GlobalOptions& global,
                   const CallCommand& call, Console console);
ExitStatus RunTestGateway(GDBusConnection* connection, const GlobalOptions& global,
                          const TestGatewayCommand& test, Console console);

ExitStatus RunProfiles(GDBusConnection* connection, const GlobalOptions& global,
                       const ProfilesCommand& profiles, Console console);
ExitStatus RunWatch(GDBusConnection* connection, const GlobalOptions& global,
                    const WatchCommand& watch, Console console);
// No bus: `connection` is null (the table marks the command offline).
ExitStatus RunTokens(GDBusConnection* connection, const GlobalOptions& global,
                     const TokensCommand& tokens, Console console);
ExitStatus RunJournal(GDBusConnection* connection, const GlobalOptions& global,
                      const JournalCommand& journal, Console console);
ExitStatus RunStatus(GDBusConnection* connection, const GlobalOptions& global,
                     const StatusCommand& status, Console console);

}  // namespace qz::client
