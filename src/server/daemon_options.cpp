#include "server/daemon_options.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "platform/holders.h"

namespace qz {
namespace {

struct OptionText {
  gchar* address = nullptr;
  gchar* folder = nullptr;
  gchar* linger = nullptr;
  gchar* seat = nullptr;
  gchar* metrics_listen = nullptr;
  gchar** listen = nullptr;
  gchar* tls_cert = nullptr;
  gchar* tls_key = nullptr;
  gchar* journal = nullptr;
  gchar* serves = nullptr;
  gint64 lease = 120;
  gint apartments = 4;
  gint user_share = -1;  // not given: half the apartments
  gint grace = 30;
  gint64 http_idle = ConnectionLimits{}.idle_seconds;
  gint64 http_max_connections = static_cast<gint64>(ConnectionLimits{}.max_connections);
  std::array<gint64, std::size(kLimitRows)> limits = DefaultLimits();
  gboolean system = FALSE;
  gboolean version = FALSE;
  gboolean no_journal = FALSE;
  gboolean listen_insecure = FALSE;
  // The parser allocates what it stores in the fields above.
  ~OptionText() {
    for (gchar* held :
         {address, folder, linger, seat, metrics_listen, tls_cert, tls_key, journal, serves})
      CharPtr{held};
    StrvPtr{listen};
  }

  static std::array<gint64, std::size(kLimitRows)> DefaultLimits() {
    std::array<gint64, std::size(kLimitRows)> values{};
    for (size_t i = 0; i < values.size(); ++i)
      values[i] = static_cast<gint64>(Limits{}.*kLimitRows[i].field);
    return values;
  }
};

// Takes `value` into `out` when it is from 1 to `row.max`.
Status TakeLimit(const LimitRow& row, gint64 value, Limits& out) {
  if (value < 1 || static_cast<uint64_t>(value) > row.max)
    return Status::InvalidArgument(std::string("--") + row.option + " takes a number from 1 to " +
                                   std::to_string(row.max));
  out.*row.field = static_cast<size_t>(value);
  return {};
}

bool ParseWhole(std::string_view text, long max, long& out) {
  std::string s(text);
  char* end = nullptr;
  long value = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end || value < 0 || value > max) return false;
  out = value;
  return true;
}

// The HTTP front door's options: tokens cross the network in the clear
// unless TLS carries them, so only loopback goes without it unless asked.
Status TakeFrontDoor(const OptionText& text, DaemonOptions& options) {
  for (gchar** item = text.listen; item && *item; ++item) {
    std::optional<ListenAddress> address = ParseListenAddress(*item);
    if (!address)
      return Status::InvalidArgument(
          "--listen takes a numeric ADDRESS:PORT, such as 127.0.0.1:8443 or [::1]:8443");
    options.listen.push_back(std::move(*address));
  }
  if (text.tls_cert) options.tls_cert = text.tls_cert;
  if (text.tls_key) options.tls_key = text.tls_key;
  options.listen_insecure = text.listen_insecure;
  if (text.http_idle < 1 || text.http_idle > 86400)
    return Status::InvalidArgument("--http-idle-timeout takes seconds from 1 to 86400");
  if (text.http_max_connections < 1 || text.http_max_connections > 1000000)
    return Status::InvalidArgument("--http-max-connections takes a number from 1 to 1000000");
  options.http_connections.idle_seconds = static_cast<unsigned>(text.http_idle);
  options.http_connections.max_connections = static_cast<size_t>(text.http_max_connections);
  if (options.tls_cert.empty() != options.tls_key.empty())
    return Status::InvalidArgument("--tls-cert and --tls-key go together");
  if (!options.tls_cert.empty() && options.listen.empty())
    return Status::InvalidArgument("--tls-cert needs --listen");
  if (options.tls_cert.empty() && !options.listen_insecure)
    for (const ListenAddress& address : options.listen)
      if (!IsLoopback(address))
        return Status::InvalidArgument("--listen " + address.host +
                                       " is not a loopback address: give --tls-cert and "
                                       "--tls-key, or --listen-insecure");
  return {};
}

// A fleet's options: --journal names the shared database; --serves and
// --lease only mean something with it.
Status TakeFleet(const OptionText& text, DaemonOptions& options) {
  if (text.journal) {
    const std::string_view url = text.journal;
    if (!url.starts_with("postgresql://") && !url.starts_with("postgres://"))
      return Status::InvalidArgument("--journal takes a postgresql:// or postgres:// URL");
    if (text.no_journal)
      return Status::InvalidArgument("--journal and --no-journal exclude each other");
    options.journal_url = url;
  }
  if ((text.serves || text.lease != 120) && options.journal_url.empty())
    return Status::InvalidArgument("--serves and --lease need --journal postgresql://...");
  if (text.lease < 2 || text.lease > 86400)
    return Status::InvalidArgument("--lease takes seconds from 2 to 86400");
  options.lease_seconds = static_cast<unsigned>(text.lease);
  if (!text.serves) return {};
  std::vector<std::string> serves;
  StrvPtr items(g_strsplit(text.serves, ",", -1));
  for (gchar** item = items.get(); *item; ++item) {
    const std::string name = g_strstrip(*item);
    if (name != "0" && name != "1" && name != "2" && name != "mail")
      return Status::InvalidArgument("--serves takes a comma list of 0, 1, 2 and mail");
    if (std::find(serves.begin(), serves.end(), name) == serves.end()) serves.push_back(name);
  }
  if (serves.empty())
    return Status::InvalidArgument("--serves takes a comma list of 0, 1, 2 and mail");
  options.serves = std::move(serves);
  return {};
}

}  // namespace

std::optional<DaemonOptions> ParseDaemonOptions(int argc, char** argv, Status& status) {
  OptionText text;
  std::vector<GOptionEntry> entries = {
      {"system", 0, 0, G_OPTION_ARG_NONE, &text.system,
       "Serve the system bus (default: the session bus)", nullptr},
      {"address", 0, 0, G_OPTION_ARG_STRING, &text.address,
       "Serve the message bus at ADDRESS (with --system: with the system bus's rules)", "ADDRESS"},
      {"folder", 0, 0, G_OPTION_ARG_FILENAME, &text.folder,
       "Program folder with the settings files and the log", "DIR"},
      {"linger", 0, 0, G_OPTION_ARG_STRING, &text.linger,
       "Seconds to stay after the last object is gone (default 5), or 'forever'", "SECONDS"},
      {"apartments", 0, 0, G_OPTION_ARG_INT, &text.apartments,
       "At most N apartment threads (default 4)", "N"},
      {"user-share", 0, 0, G_OPTION_ARG_INT, &text.user_share,
       "On the system bus, one user's objects occupy at most N apartments (default: half, "
       "at least 1; one always stays for the others)",
       "N"},
      {"shutdown-grace", 0, 0, G_OPTION_ARG_INT, &text.grace,
       "Seconds a stop waits for deliveries in progress (default 30)", "SECONDS"},
      {"seat", 0, 0, G_OPTION_ARG_STRING, &text.seat,
       "Whether a user counts as logged on at seat0: auto (ask logind), present or absent", "MODE"},
  };
  // Kept until the parse is done: the entries point into them.
  std::vector<std::string> limit_help;
  limit_help.reserve(std::size(kLimitRows));
  for (size_t i = 0; i < std::size(kLimitRows); ++i) {
    const LimitRow& row = kLimitRows[i];
    limit_help.push_back(std::string(row.help) + " (default " +
                         std::to_string(Limits{}.*row.field) + ")");
    entries.push_back(
        {row.option, 0, 0, G_OPTION_ARG_INT64, &text.limits[i], limit_help.back().c_str(), "N"});
  }
  entries.push_back(
      {"no-journal", 0, 0, G_OPTION_ARG_NONE, &text.no_journal,
       "Keep no request journal: requests accepted but not yet run are lost in a crash", nullptr});
  entries.push_back({"journal", 0, 0, G_OPTION_ARG_STRING, &text.journal,
                     "Keep the journal in the PostgreSQL database at URL, shared with the other "
                     "daemons of a fleet (postgresql://...)",
                     "URL"});
  entries.push_back({"serves", 0, 0, G_OPTION_ARG_STRING, &text.serves,
                     "With --journal: the gateways this daemon runs tries for, a comma list of "
                     "0, 1, 2 and mail (default: those its settings configure)",
                     "LIST"});
  entries.push_back({"lease", 0, 0, G_OPTION_ARG_INT64, &text.lease,
                     "With --journal: seconds a try stays with a daemon that stopped answering "
                     "before another takes it (default 120)",
                     "SECONDS"});
  entries.push_back({"metrics-listen", 0, 0, G_OPTION_ARG_STRING, &text.metrics_listen,
                     "Serve Prometheus metrics at http://ADDRESS:PORT/metrics (none by default)",
                     "ADDRESS:PORT"});
  entries.push_back({"listen", 0, 0, G_OPTION_ARG_STRING_ARRAY, &text.listen,
                     "Serve the HTTP API at ADDRESS:PORT (repeatable; none by default)",
                     "ADDRESS:PORT"});
  entries.push_back({"tls-cert", 0, 0, G_OPTION_ARG_FILENAME, &text.tls_cert,
                     "Serve --listen over HTTPS with this PEM certificate (with --tls-key)",
                     "FILE"});
  entries.push_back({"tls-key", 0, 0, G_OPTION_ARG_FILENAME, &text.tls_key,
                     "The PEM private key of --tls-cert", "FILE"});
  entries.push_back({"listen-insecure", 0, 0, G_OPTION_ARG_NONE, &text.listen_insecure,
                     "Allow --listen on an address that is not loopback without TLS", nullptr});
  entries.push_back({"http-idle-timeout", 0, 0, G_OPTION_ARG_INT64, &text.http_idle,
                     "Close an HTTP connection that sends no request for SECONDS (default 60; "
                     "a new one has at most 10 for its first request's headers)",
                     "SECONDS"});
  entries.push_back({"http-max-connections", 0, 0, G_OPTION_ARG_INT64, &text.http_max_connections,
                     "At most N HTTP connections open at once, event streams included; more are "
                     "closed as they come (default 4096)",
                     "N"});
  entries.push_back(
      {"version", 0, 0, G_OPTION_ARG_NONE, &text.version, "Print the version and exit", nullptr});
  entries.push_back({nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr});
  OptionContextPtr context(g_option_context_new("- the QzNotes notification server"));
  g_option_context_add_main_entries(context.get(), entries.data(), nullptr);
  ErrorPtr parse_error;
  if (!g_option_context_parse(context.get(), &argc, &argv, ErrorSlot(parse_error))) {
    status = Status::InvalidArgument(ErrorText(parse_error));
    return std::nullopt;
  }
  if (argc > 1) {
    status = Status::InvalidArgument(std::string("unexpected argument '") + argv[1] + "'");
    return std::nullopt;
  }

  DaemonOptions options;
  options.show_version = text.version;
  options.server.system_bus = text.system;
  options.journal = !text.no_journal;
  if (text.address) options.address = text.address;
  if (text.folder) {
    if (*text.folder == '\0') {
      status = Status::InvalidArgument("--folder needs a folder");
      return std::nullopt;
    }
    options.folder = text.folder;
  }
  if (text.linger) {
    long seconds = 0;
    if (std::string_view(text.linger) == "forever") {
      options.server.linger_seconds = std::nullopt;
    } else if (ParseWhole(text.linger, 86400, seconds)) {
      options.server.linger_seconds = static_cast<unsigned>(seconds);
    } else {
      status = Status::InvalidArgument("--linger takes seconds from 0 to 86400 or 'forever'");
      return std::nullopt;
    }
  }
  if (text.apartments < 1 || text.apartments > 256) {
    status = Status::InvalidArgument("--apartments takes a number from 1 to 256");
    return std::nullopt;
  }
  options.server.apartments = static_cast<size_t>(text.apartments);
  if (text.user_share != -1) {
    if (text.user_share < 1 || text.user_share > 256) {
      status = Status::InvalidArgument("--user-share takes a number from 1 to 256");
      return std::nullopt;
    }
    options.server.user_share = static_cast<size_t>(text.user_share);
  }
  if (text.grace < 0 || text.grace > 3600) {
    status = Status::InvalidArgument("--shutdown-grace takes seconds from 0 to 3600");
    return std::nullopt;
  }
  options.server.shutdown_grace_seconds = static_cast<unsigned>(text.grace);
  for (size_t i = 0; i < std::size(kLimitRows); ++i) {
    status = TakeLimit(kLimitRows[i], text.limits[i], options.server.limits);
    if (!status.ok()) return std::nullopt;
  }
  if (text.metrics_listen) {
    options.metrics_listen = ParseListenAddress(text.metrics_listen);
    if (!options.metrics_listen) {
      status = Status::InvalidArgument(
          "--metrics-listen takes a numeric ADDRESS:PORT, such as 127.0.0.1:9469 or [::1]:9469");
      return std::nullopt;
    }
  }
  status = TakeFrontDoor(text, options);
  if (!status.ok()) return std::nullopt;
  status = TakeFleet(text, options);
  if (!status.ok()) return std::nullopt;
  // Tries come from the fleet at any time: a daemon in one stays until stopped.
  if (!options.journal_url.empty()) options.server.linger_seconds = std::nullopt;
  // HTTP callers are not objects on the bus, so the idle timer cannot see
  // them: a daemon that listens stays until it is stopped.
  if (!options.listen.empty()) options.server.linger_seconds = std::nullopt;
  if (text.seat) {
    if (std::optional<SeatMode> mode = ParseSeatMode(text.seat)) {
      options.seat = *mode;
    } else {
      status = Status::InvalidArgument("--seat takes auto, present or absent");
      return std::nullopt;
    }
  }
  return options;
}

}  // namespace qz
