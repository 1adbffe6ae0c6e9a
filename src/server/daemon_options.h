// The daemon's command line, parsed in one place with GLib's option parser
// (--help, --version and clear errors come with it). Stateless.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "http/http_listener.h"
#include "platform/seat_override.h"
#include "platform/status.h"
#include "server/server_options.h"

namespace qz {

struct DaemonOptions {
  ServerOptions server;
  std::string address;                // empty: the session or system bus
  std::optional<std::string> folder;  // --folder; else the environment, else the executable's
  SeatMode seat = SeatMode::kAuto;
  bool show_version = false;
  bool journal = true;  // --no-journal: accepted requests are not kept across a crash
  std::optional<ListenAddress> metrics_listen;  // none: no metrics are served or counted
  // The HTTP front door: none by default. An address that is not loopback
  // needs TLS or listen_insecure.
  std::vector<ListenAddress> listen;
  std::string tls_cert;  // with tls_key: HTTPS on every --listen address
  std::string tls_key;
  bool listen_insecure = false;
  ConnectionLimits http_connections;  // idle timeout and cap of the --listen connections
  // A fleet: the journal in a PostgreSQL database shared with other daemons.
  std::string journal_url;  // --journal postgresql://...; empty: the file journal
  // --serves: "mail", "0", "1", "2"; none: what the daemon's settings configure.
  std::optional<std::vector<std::string>> serves;
  unsigned lease_seconds = 120;  // --lease: how long a try stays a silent daemon's
};

// Parses argv (program name first). Nothing: the command line is wrong and
// `status` says why. --help prints the help and ends the process.
std::optional<DaemonOptions> ParseDaemonOptions(int argc, char** argv, Status& status);

}  // namespace qz
