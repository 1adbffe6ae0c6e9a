#include "server/daemon_options.h"

#include "platform/holders.h"

#include <cstdlib>
#include <string_view>

namespace qz {
namespace {

struct OptionText {
  gchar* address = nullptr;
  gchar* folder = nullptr;
  gchar* linger = nullptr;
  gchar* seat = nullptr;
  gint apartments = 4;
  gint grace = 30;
  Limits limits;
  gint64 max_objects = static_cast<gint64>(limits.objects);
  gint64 max_pending = static_cast<gint64>(limits.pending);
  gint64 max_elements = static_cast<gint64>(limits.elements);
  gint64 max_settings_elements = static_cast<gint64>(limits.settings_elements);
  gint64 max_depth = static_cast<gint64>(limits.depth);
  gint64 max_pending_bytes = static_cast<gint64>(limits.pending_bytes);
  gboolean system = FALSE;
  gboolean version = FALSE;
  gboolean no_journal = FALSE;
  // The parser allocates what it stores in the fields above.
  ~OptionText() {
    for (gchar* held : {address, folder, linger, seat}) CharPtr{held};
  }
};

// Takes `value` into `out` when it is from 1 to `max`; else says why.
bool TakeLimit(const char* option, gint64 value, gint64 max, size_t& out, std::string& error) {
  if (value < 1 || value > max) {
    error = std::string("--") + option + " takes a number from 1 to " + std::to_string(max);
    return false;
  }
  out = static_cast<size_t>(value);
  return true;
}

bool ParseWhole(std::string_view text, long max, long& out) {
  std::string s(text);
  char* end = nullptr;
  long value = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end || value < 0 || value > max) return false;
  out = value;
  return true;
}

}  // namespace

std::optional<DaemonOptions> ParseDaemonOptions(int argc, char** argv, std::string& error,
                                                bool& exit_now) {
  exit_now = false;
  OptionText text;
  const GOptionEntry entries[] = {
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
      {"shutdown-grace", 0, 0, G_OPTION_ARG_INT, &text.grace,
       "Seconds a stop waits for deliveries in progress (default 30)", "SECONDS"},
      {"seat", 0, 0, G_OPTION_ARG_STRING, &text.seat,
       "Whether a user counts as logged on at seat0: auto (ask logind), present or absent", "MODE"},
      {"max-objects", 0, 0, G_OPTION_ARG_INT64, &text.max_objects,
       "At most N live objects per connection (default 1000)", "N"},
      {"max-pending", 0, 0, G_OPTION_ARG_INT64, &text.max_pending,
       "At most N requests per connection waiting for their run (default 1000)", "N"},
      {"max-elements", 0, 0, G_OPTION_ARG_INT64, &text.max_elements,
       "At most N array elements, at all levels, in one request's arguments (default 10000)", "N"},
      {"max-settings-elements", 0, 0, G_OPTION_ARG_INT64, &text.max_settings_elements,
       "At most N array elements in one call that is no request, such as a settings write "
       "(default 1000)",
       "N"},
      {"max-depth", 0, 0, G_OPTION_ARG_INT64, &text.max_depth,
       "At most N arrays nested in one argument (default 32)", "N"},
      {"max-pending-bytes", 0, 0, G_OPTION_ARG_INT64, &text.max_pending_bytes,
       "At most N bytes of arguments per connection in calls and requests not yet done "
       "(default 33554432)",
       "N"},
      {"no-journal", 0, 0, G_OPTION_ARG_NONE, &text.no_journal,
       "Keep no request journal: requests accepted but not yet run are lost in a crash", nullptr},
      {"version", 0, 0, G_OPTION_ARG_NONE, &text.version, "Print the version and exit", nullptr},
      {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr}};
  OptionContextPtr context(g_option_context_new("- the QzNotes notification server"));
  g_option_context_add_main_entries(context.get(), entries, nullptr);
  ErrorPtr parse_error;
  if (!g_option_context_parse(context.get(), &argc, &argv, ErrorSlot(parse_error))) {
    error = ErrorText(parse_error);
    return std::nullopt;
  }
  if (argc > 1) {
    error = std::string("unexpected argument '") + argv[1] + "'";
    return std::nullopt;
  }

  DaemonOptions options;
  options.show_version = text.version;
  exit_now = text.version;
  options.server.system_bus = text.system;
  options.journal = !text.no_journal;
  if (text.address) options.address = text.address;
  if (text.folder) {
    if (*text.folder == '\0') {
      error = "--folder needs a folder";
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
      error = "--linger takes seconds from 0 to 86400 or 'forever'";
      return std::nullopt;
    }
  }
  if (text.apartments < 1 || text.apartments > 256) {
    error = "--apartments takes a number from 1 to 256";
    return std::nullopt;
  }
  options.server.apartments = static_cast<size_t>(text.apartments);
  if (text.grace < 0 || text.grace > 3600) {
    error = "--shutdown-grace takes seconds from 0 to 3600";
    return std::nullopt;
  }
  options.server.shutdown_grace_seconds = static_cast<unsigned>(text.grace);
  Limits& limits = options.server.limits;
  if (!TakeLimit("max-objects", text.max_objects, 1000000, limits.objects, error) ||
      !TakeLimit("max-pending", text.max_pending, 1000000, limits.pending, error) ||
      !TakeLimit("max-elements", text.max_elements, 1000000000, limits.elements, error) ||
      !TakeLimit("max-settings-elements", text.max_settings_elements, 1000000000,
                 limits.settings_elements, error) ||
      !TakeLimit("max-depth", text.max_depth, 64, limits.depth, error) ||
      !TakeLimit("max-pending-bytes", text.max_pending_bytes, gint64{1} << 40, limits.pending_bytes,
                 error))
    return std::nullopt;
  if (text.seat) {
    if (std::optional<SeatMode> mode = ParseSeatMode(text.seat)) {
      options.seat = *mode;
    } else {
      error = "--seat takes auto, present or absent";
      return std::nullopt;
    }
  }
  return options;
}

}  // namespace qz
