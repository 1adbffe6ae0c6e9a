// The commands qznotes runs against a remote server's HTTP API (--url): the
// same commands, output and exit statuses as over the bus. Main thread only:
// they block on the network.
#pragma once

#include "client/commands.h"
#include "client/console.h"
#include "client/exit_status.h"

namespace qz::client {

ExitStatus RunRemoteSend(const GlobalOptions& global, const SendCommand& send, Console console);
ExitStatus RunRemoteStatus(const GlobalOptions& global, const StatusCommand& status,
                           Console console);
ExitStatus RunRemoteTestGateway(const GlobalOptions& global, const TestGatewayCommand& test,
                                Console console);
ExitStatus RunRemoteWatch(const GlobalOptions& global, const WatchCommand& watch, Console console);

}  // namespace qz::client
