#include <filesystem>

#include "client/bus_connection.h"
#include "client/call_failure.h"
#include "client/daemon_folder.h"
#include "client/runners.h"
#include "client/server_object.h"
#include "client/server_views.h"
#include "client/user_report.h"
#include "config/delivery_policy.h"
#include "config/program_folder.h"
#include "dispatch/journal_file.h"
#include "dispatch/journal_listing.h"
#include "dispatch/retry_schedule.h"

namespace qz::client {
namespace {

// The folder of the daemon a request would reach: the system daemon's, the
// running session daemon's, else the one a session daemon started now
// (from beside this client) would use.
std::string Folder(const GlobalOptions& global, const JournalCommand& command) {
  if (command.folder) return ProgramFolder(*command.folder);
  if (command.system) return QZ_SYSTEM_FOLDER;
  if (std::optional<std::string> running = RunningDaemonFolder(global)) return *running;
  return ProgramFolder(std::nullopt);
}

ExitStatus Unreadable(const std::string& error, Console console) {
  console.err << "qznotes: " << error;
  if (error.find("Permission denied") != std::string::npos)
    console.err << " (the system daemon's journal is for root and the group qznotes)";
  console.err << "\n";
  return kExitUsage;
}

size_t Groups(const RequestRecord& r) {
  try {
    return r.mvarNotes.IsArray() ? static_cast<size_t>(r.mvarNotes.UBound() + 1) : 0;
  } catch (...) {
    return 0;  // a record of another shape has no groups to count; the line still shows it
  }
}

// The log entry's failures on one line.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';
  return text;
}

// The running daemon's status when it is one of a fleet, whose journal is
// its database rather than the folder's files; null otherwise. Never
// starts a daemon for a look.
VariantPtr FleetStatus(const GlobalOptions& global, const JournalCommand& command) {
  if (command.folder) return nullptr;
  if (global.bus == BusKind::kSession) {
    CharPtr address(g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    if (!address || g_str_has_prefix(address.get(), "autolaunch:")) return nullptr;
  }
  ErrorPtr error;
  ConnectionPtr connection = OpenBus(global, error);
  if (!connection) return nullptr;
  VariantPtr reply(
      g_dbus_connection_call_sync(connection.get(), global.destination.c_str(), kFactoryPath,
                                  kStatusInterface, "Status", nullptr, G_VARIANT_TYPE("(a{sv})"),
                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, 25'000, nullptr, nullptr));
  if (!reply) return nullptr;
  VariantPtr status(g_variant_get_child_value(reply.get(), 0));
  VariantPtr fleet(g_variant_lookup_value(status.get(), "fleet", G_VARIANT_TYPE_VARDICT));
  return fleet ? std::move(status) : nullptr;
}

// A fleet's dead letters, as its daemon lists them from the database.
ExitStatus ListFleetFailed(const GlobalOptions& global, Console console) {
  ErrorPtr error;
  ConnectionPtr connection = OpenBus(global, error);
  VariantPtr reply = connection ? CallMethod(connection.get(), global.destination, kFactoryPath,
                                             kJournalInterface, "List", nullptr, error)
                                : nullptr;
  if (!reply) return ReportFailure(error.get(), global, console);
  if (!g_variant_is_of_type(reply.get(), G_VARIANT_TYPE("(a(ssxxs))"))) {
    ReportProblem(console, global.json, "answer",
                  std::string("List answered ") + g_variant_get_type_string(reply.get()));
    return kExitUsage;
  }
  VariantPtr rows(g_variant_get_child_value(reply.get(), 0));
  GVariantIter iter;
  g_variant_iter_init(&iter, rows.get());
  const char *id = nullptr, *test_id = nullptr, *reasons = nullptr;
  gint64 accepted = 0, failed = 0;
  size_t total = 0;
  while (g_variant_iter_next(&iter, "(&s&sxx&s)", &id, &test_id, &accepted, &failed, &reasons)) {
    console.out << id << "  " << test_id << "  accepted " << UtcTime(accepted) << "  failed "
                << UtcTime(failed) << "  " << OneLine(reasons) << "\n";
    ++total;
  }
  console.out << total << " failed requests in the fleet's database\n";
  return kExitOk;
}

ExitStatus List(const std::string& folder, Console console) {
  Status status;
  auto listing = ListJournal(folder, status);
  if (!listing) return Unreadable(status.message(), console);
  size_t total = 0;
  for (const JournalFileReport& file : listing->files) {
    console.out << file.name << ": "
                << (file.in_use ? "held by a running qznotesd" : "left by a daemon that is gone")
                << (file.recognised ? "" : "; not a journal file");
    if (file.skipped_bytes)
      console.out << "; damaged: " << file.skipped_bytes << " bytes unreadable";
    if (file.read_error) console.out << "; a read failed";
    console.out << "\n";
    for (const RequestRecord& r : file.requests)
      console.out << "  " << r.mstrTestID << "  " << r.procedure << "  accepted " << AcceptedTime(r)
                  << "  groups " << Groups(r) << "  object " << r.object_path << "  owner "
                  << r.owner << (r.failed ? "  failed " + UtcTime(r.failed_unix_ms) : "") << "\n";
    if (file.unreadable) console.out << "  " << file.unreadable << " entries of another version\n";
    total += file.requests.size() + file.unreadable;
  }
  if (listing->damaged_kept)
    console.out << listing->damaged_kept << " damaged files kept aside in " << folder << "/"
                << kJournalFolderName << "/" << kJournalDamagedFolder << " (not replayed)\n";
  console.out << total << " requests in " << folder << "/" << kJournalFolderName << "\n";
  for (const JournalSkipped& skipped : listing->skipped)
    console.err << "qznotes: skipped " << skipped.name << ": " << skipped.why << "\n";
  return kExitOk;
}

ExitStatus ListFailed(const std::string& folder, Console console) {
  Status status;
  auto listing = ListJournal(folder, status);
  if (!listing) return Unreadable(status.message(), console);
  const int keep_days = ReadDeliveryPolicy(folder).keep_failed_days;
  const int64_t now = UnixMsNow();
  size_t total = 0;
  for (const JournalFileReport& file : listing->files)
    for (const RequestRecord& r : file.requests) {
      if (!r.failed || FailedExpired(r, now, keep_days)) continue;
      console.out << r.failed_id << "  " << r.mstrTestID << "  accepted " << AcceptedTime(r)
                  << "  failed " << UtcTime(r.failed_unix_ms) << "  " << OneLine(r.failed_reasons)
                  << "\n";
      ++total;
    }
  console.out << total << " failed requests in " << folder << "/" << kJournalFolderName << "\n";
  return kExitOk;
}

// Retry and clear of failed requests go through the running daemon, which
// holds them.
ExitStatus AskDaemon(const GlobalOptions& global, const JournalCommand& command, Console console) {
  ErrorPtr error;
  ConnectionPtr connection = OpenBus(global, error);
  if (!connection) return ReportFailure(error.get(), global, console);
  const bool retry = command.action == JournalCommand::Action::kRetry;
  VariantPtr reply = CallMethod(connection.get(), global.destination, kFactoryPath,
                                kJournalInterface, retry ? "Retry" : "Clear",
                                retry ? g_variant_new("(s)", command.id.c_str()) : nullptr, error);
  if (!reply) {
    // The server's own refusal (no such request) is its answer: exit 1.
    CallFailure failure = DescribeFailure(error.get());
    if (!g_dbus_error_is_remote_error(error.get()) || failure.raised_by_server ||
        !StartHint(error.get(), global).empty())
      return ReportFailure(error.get(), global, console);
    ReportProblem(console, global.json, "refused", failure.message);
    return kExitFailed;
  }
  if (!g_variant_is_of_type(reply.get(), G_VARIANT_TYPE("(u)"))) {
    ReportProblem(console, global.json, "answer",
                  std::string(retry ? "Retry" : "Clear") + " answered " +
                      g_variant_get_type_string(reply.get()));
    return kExitUsage;
  }
  uint32_t count = 0;
  g_variant_get(reply.get(), "(u)", &count);
  console.out << (retry ? "sent " : "dropped ") << count << " failed requests"
              << (retry ? " again\n" : "\n");
  return kExitOk;
}

ExitStatus Clear(const std::string& folder, Console console) {
  JournalClearing done = ClearJournal(folder);
  if (!done.status.ok()) return Unreadable(done.status.message(), console);
  console.out << "removed " << done.requests_removed << " requests in " << done.files_removed
              << " files from " << folder << "/" << kJournalFolderName << "\n";
  for (const JournalSkipped& skipped : done.skipped)
    console.err << "qznotes: skipped " << skipped.name << ": " << skipped.why << "\n";
  for (const std::string& name : done.in_use)
    console.err << "qznotes: " << name
                << " is held by a running qznotesd and was left; stop the daemon first\n";
  return done.in_use.empty() ? kExitOk : kExitFailed;
}

}  // namespace

ExitStatus RunJournal(GDBusConnection*, const GlobalOptions& global, const JournalCommand& command,
                      Console console) {
  if (command.action == JournalCommand::Action::kRetry ||
      (command.failed && command.action == JournalCommand::Action::kClear))
    return AskDaemon(global, command, console);
  std::string folder;
  try {
    folder = Folder(global, command);
  } catch (const std::exception& e) {
    return Unreadable(std::string("cannot find the program folder: ") + e.what(), console);
  }
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    console.err << "qznotes: no program folder " << folder << "\n";
    return kExitFailed;
  }
  if (command.action == JournalCommand::Action::kClear) return Clear(folder, console);
  const VariantPtr fleet = FleetStatus(global, command);
  if (fleet && command.failed) return ListFleetFailed(global, console);
  if (command.failed) return ListFailed(folder, console);
  const ExitStatus listed = List(folder, console);
  if (fleet) PrintFleet(fleet.get(), console.out);
  return listed;
}

}  // namespace qz::client
