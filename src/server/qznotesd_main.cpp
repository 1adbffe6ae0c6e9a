// qznotesd: the QzNotes notification server on D-Bus. The composition root:
// it reads the command line, connects to the bus and builds what every
// object shares (gateways, seat check, components) before serving.
#include <gio/gio.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "automation/component_registry.h"
#include "automation/context_post.h"
#include "components/callback_service.h"
#include "components/callback_worker.h"
#include "components/system_bus_address.h"
#include "config/program_folder.h"
#include "config/settings_groups.h"
#include "diagnostics/gateway_health.h"
#include "diagnostics/metrics.h"
#include "dispatch/delivery_ledger.h"
#include "dispatch/fleet_role.h"
#include "dispatch/journal_file.h"
#include "dispatch/pg_journal.h"
#include "dispatch/request_journal.h"
#include "dispatch/retry_schedule.h"
#include "gateways/gateway_table.h"
#include "gateways/terminal/terminal_pager.h"
#include "http/alertmanager_receiver.h"
#include "http/front_door.h"
#include "http/metrics_endpoint.h"
#include "http/request_api.h"
#include "http/token_store.h"
#include "platform/holders.h"
#include "platform/registry_store.h"
#include "platform/seat_override.h"
#include "server/call_admission.h"
#include "server/call_router.h"
#include "server/caller_uids.h"
#include "server/daemon_options.h"
#include "server/fleet_claimer.h"
#include "server/fleet_settings.h"
#include "server/fleet_shared.h"
#include "server/front_door_port.h"
#include "server/heap_trim.h"
#include "server/object_calls.h"
#include "server/server_lifetime.h"
#include "server/server_log.h"
#include "server/service_watchdog.h"
#include "server/slice_setting.h"
#include "server/status_json.h"
#include "server/status_line.h"
#include "server/status_view.h"

namespace {

qz::ConnectionPtr Connect(const qz::DaemonOptions& options, qz::ErrorPtr& error) {
  if (!options.address.empty())
    return qz::ConnectionPtr(g_dbus_connection_new_for_address_sync(
        options.address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, qz::ErrorSlot(error)));
  return qz::ConnectionPtr(
      g_bus_get_sync(options.server.system_bus ? G_BUS_TYPE_SYSTEM : G_BUS_TYPE_SESSION, nullptr,
                     qz::ErrorSlot(error)));
}

// Where the daemon listens, for the status view.
std::string BusText(const qz::DaemonOptions& options) {
  if (!options.address.empty()) return "D-Bus " + options.address;
  return options.server.system_bus ? "D-Bus system bus" : "D-Bus session bus";
}

// Counting only when metrics are served: the labels are the gateway table's
// names and the limit options.
std::unique_ptr<qz::Metrics> MakeMetrics(const qz::DaemonOptions& options,
                                         const qz::GatewayTable& gateways) {
  if (!options.metrics_listen && options.listen.empty()) return nullptr;
  qz::Metrics::Labels labels{{gateways.smtp.name, gateways.profile.name}, {}, QZ_VERSION};
  for (const qz::PagingGateway& gateway : gateways.paging) labels.gateways.push_back(gateway.name);
  for (const qz::LimitRow& row : qz::kLimitRows) labels.limits.emplace_back(row.option);
  return std::make_unique<qz::Metrics>(std::move(labels));
}

// Reads the certificate and key of --tls-cert and --tls-key; none and a
// logged reason when they cannot be used.
qz::ObjectPtr<GTlsCertificate> LoadTls(const qz::DaemonOptions& options) {
  qz::ErrorPtr error;
  qz::ObjectPtr<GTlsCertificate> certificate(g_tls_certificate_new_from_files(
      options.tls_cert.c_str(), options.tls_key.c_str(), qz::ErrorSlot(error)));
  if (!certificate)
    qz::ServerLog(std::string("cannot use --tls-cert/--tls-key: ") + qz::ErrorText(error));
  return certificate;
}

// Each HTTP connection takes a descriptor, and many systems start daemons
// with a soft limit of 1024: up to the hard limit, as many as the cap needs.
void RaiseFileLimit(size_t connections) {
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0) return;
  const rlim_t wanted = static_cast<rlim_t>(connections) + 256;  // the rest of the daemon
  if (files.rlim_cur != RLIM_INFINITY && files.rlim_cur < wanted) {
    files.rlim_cur = files.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, files.rlim_max);
    setrlimit(RLIMIT_NOFILE, &files);
  }
}

}  // namespace

int main(int argc, char** argv) {
  qz::RestartWithMallocSlices(argv);
  const int64_t started_unix_ms = qz::UnixMsNow();
  qz::KeepHeapThresholdsFixed();
  qz::Status parsed;
  std::optional<qz::DaemonOptions> options = qz::ParseDaemonOptions(argc, argv, parsed);
  if (!options) {
    std::fprintf(stderr, "qznotesd: %s (see qznotesd --help)\n", parsed.message().c_str());
    return 2;
  }
  if (options->show_version) {
    std::printf("qznotesd %s\n", QZ_VERSION);
    return 0;
  }
  // The system bus keeps its rules however it was named.
  options->server.system_bus =
      options->server.system_bus || qz::NamesSystemBus(options->address, qz::SystemBusAddress());
  // A peer that closes while we write must not end the server.
  signal(SIGPIPE, SIG_IGN);
  // What the daemon creates is no other user's business (modes 0640, 0750).
  umask(027);

  std::string folder;
  try {
    folder = qz::ProgramFolder(options->folder);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qznotesd: cannot find the program folder: %s\n", e.what());
    return 2;
  }
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    std::fprintf(stderr, "qznotesd: the program folder %s is not a folder\n", folder.c_str());
    return 2;
  }
  // The settings files are optional: every read of a missing one is empty.
  if (!std::filesystem::exists(std::filesystem::path(folder) / qz::kMainSettingsFile, ec))
    qz::ServerLog("warning: no " + std::string(qz::kMainSettingsFile) + " in " + folder +
                  "; every setting reads as empty");

  qz::ErrorPtr error;
  qz::ConnectionPtr connection = Connect(*options, error);
  if (!connection) {
    qz::ServerLog(std::string("cannot connect to the bus: ") + qz::ErrorText(error));
    return 1;
  }
  g_dbus_connection_set_exit_on_close(connection.get(), FALSE);

  // Outlives the server: runs that end while it winds down still post here.
  qz::CallbackWorker http_callbacks(qz::CallbackWorker::Limits{},
                                    [](std::string_view line) { qz::ServerLog(line); });
  const qz::GatewayTable gateways = qz::BuiltInGateways();
  const std::unique_ptr<qz::Metrics> metrics = MakeMetrics(*options, gateways);
  qz::ComponentRegistry components;
  qz::RegisterCallbackService(components, {.connection = connection.get(),
                                           .system_bus = options->server.system_bus,
                                           .folder = folder,
                                           .http_worker = &http_callbacks,
                                           .metrics = metrics.get()});
  gateways.RegisterComponents(components, folder);
  qz::ConfiguredSeatProbe seat(options->seat);
  qz::RegistryStore registry(folder + "/" + std::string(qz::kRegistryFileName));
  std::unique_ptr<qz::JournalStore> journal;
  std::optional<qz::FleetRole> fleet;
  if (!options->journal_url.empty()) {
    fleet = qz::MakeFleetRole(folder, options->serves);
    qz::Status opened;
    qz::PgJournal::Options fleet_options;
    fleet_options.lease = std::chrono::seconds(options->lease_seconds);
    fleet_options.serves = {fleet->serves.begin(), fleet->serves.end()};
    fleet_options.needs = fleet->needs;
    fleet_options.report = [](std::string_view line) { qz::ServerLog(line); };
    journal = qz::PgJournal::Open(options->journal_url, std::move(fleet_options), opened);
    if (!journal) {
      qz::ServerLog("cannot open the fleet's journal at " +
                    qz::PgJournal::WithoutPassword(options->journal_url) + ": " + opened.message());
      return 1;
    }
    qz::ServerLog("fleet: journal at " + journal->where() + ", serving " +
                  qz::FleetNames(fleet->serves) + ", lease " +
                  std::to_string(options->lease_seconds) + " s");
  } else if (options->journal) {
    qz::Status opened;
    qz::RequestJournal::Options journal_options;
    journal_options.report = [](std::string_view line) { qz::ServerLog(line); };
    journal = qz::RequestJournal::Open(folder, opened, journal_options);
    if (!journal) {
      qz::ServerLog("cannot open the request journal: " + opened.message() +
                    " (fix the folder, or start with --no-journal)");
      return 1;
    }
  }
  int status = 0;
  std::chrono::steady_clock::time_point deadline;
  {
    // Each part refers to those built before it, and goes before them.
    auto report = [](std::string_view line) { qz::ServerLog(line); };
    // The duplicate window is kept with the journal, or in memory without one.
    qz::DeliveryLedger ledger(
        journal ? folder + "/" + std::string(qz::kJournalFolderName) : std::string(), report);
    // A fleet keeps its throttles, duplicates and serial lines in its database.
    std::unique_ptr<qz::FleetShared> fleet_state;
    qz::SendLedger* sends = &ledger;
    if (const auto* shared = dynamic_cast<const qz::PgJournal*>(journal.get())) {
      fleet_state = std::make_unique<qz::FleetShared>(options->journal_url, *shared, report);
      qz::RegisterTerminalPager(components, folder, &fleet_state->line_locks());
      sends = &fleet_state->ledger();
    }
    qz::GatewayHealth health;
    const qz::ServerEnvironment env{
        folder,        components, gateways, seat,          &registry, &http_callbacks,
        journal.get(), report,     &health,  metrics.get(), sends,     fleet ? &*fleet : nullptr};
    const qz::ServerOptions& served = options->server;
    qz::CallerUids uids(connection.get(), g_main_context_default());
    qz::CallAdmission admission(connection.get(), served.limits,
                                served.system_bus ? &uids : nullptr, metrics.get());
    qz::ObjectCalls objects(connection.get(), served, env, admission, uids);
    qz::ServerLifetime lifetime(connection.get(), served, env, objects);
    // Claims from the main loop once it runs, after the replay took over.
    std::optional<qz::FleetClaimer> claimer;
    if (fleet)
      claimer.emplace(*journal, connection.get(), objects,
                      std::chrono::seconds(options->lease_seconds));
    // Metrics are served before the status view is, so that it names their address.
    std::vector<std::string> listeners = {BusText(*options)};
    qz::HttpListener metrics_listener;
    std::optional<qz::MetricsSources> metrics_sources;
    if (metrics)
      metrics_sources.emplace(qz::MetricsSources{
          .metrics = *metrics,
          .health = &health,
          .pending = [&objects] { return static_cast<int64_t>(objects.UnfinishedWork().size()); },
          .failed =
              [&journal] { return journal ? static_cast<int64_t>(journal->FailedCount()) : 0; },
          .program_folder = journal ? folder : std::string()});
    if (metrics_sources && fleet_state)
      metrics_sources->unclaimable = [&fleet_state]() -> std::optional<int64_t> {
        if (auto facts = fleet_state->Facts()) return facts->unclaimable;
        return std::nullopt;
      };
    if (metrics && options->metrics_listen) {
      qz::AddMetricsEndpoint(metrics_listener, *metrics_sources);
      std::string bound;
      const qz::Status listening = metrics_listener.Start(*options->metrics_listen, bound);
      if (!listening.ok()) {
        qz::ServerLog("cannot serve metrics: " + listening.message());
        return 1;
      }
      listeners.push_back("http://" + bound + std::string(qz::kMetricsPath));
      qz::ServerLog("metrics: serving " + listeners.back());
    }
    // The front door answers /v1/status on the main thread, once the
    // status view exists and until it goes.
    auto door_status = std::make_shared<const qz::StatusSources*>(nullptr);
    qz::TokenStore tokens(folder + "/" + std::string(qz::kTokensFileName), report);
    // The request API's way to the objects; it outlives the listener calling it.
    std::optional<qz::FrontDoorPort> door_port;
    std::optional<qz::AlertmanagerReceiver> alert_receiver;  // calls door_port
    qz::HttpListener front_door;
    if (!options->listen.empty()) {
      door_port.emplace(objects, admission, connection.get(), env);
      qz::AddRequestApi(front_door, *door_port,
                        {served.limits.elements, served.limits.depth, served.limits.pending_bytes});
      alert_receiver.emplace(*door_port, folder + "/" + std::string(qz::kAlertRoutesFileName));
      front_door.AddRoute("POST", std::string(qz::kAlertmanagerRoute), qz::Needs(qz::Right::kSend),
                          alert_receiver->Handler());
      if (!options->tls_cert.empty()) {
        qz::ObjectPtr<GTlsCertificate> certificate = LoadTls(*options);
        if (!certificate) return 1;
        front_door.UseTls(std::move(certificate));
      }
      front_door.UseTokens(&tokens);
      front_door.UseReport(report);
      front_door.UseConnectionLimits(options->http_connections);
      RaiseFileLimit(options->http_connections.max_connections);
      front_door.AddRoute(
          "GET", "/v1/health", qz::kPublicAccess, [&objects](qz::ApiCall, qz::ApiReply reply) {
            const bool stopping = objects.stopping();
            reply({stopping ? 503u : 200u, "application/json",
                   stopping ? "{\"status\":\"stopping\"}\n" : "{\"status\":\"serving\"}\n"});
          });
      front_door.AddRoute("GET", "/v1/status", qz::Needs(qz::Right::kRead),
                          [door_status, folder](qz::ApiCall, qz::ApiReply reply) {
                            qz::PostToContext(g_main_context_default(),
                                              [door_status, folder, reply] {
                                                reply(qz::StatusJson(*door_status, folder));
                                              });
                          });
      if (metrics)
        qz::AddMetricsEndpoint(front_door, *metrics_sources, qz::Needs(qz::Right::kRead));
      std::vector<std::string> bound;
      const qz::Status listening = front_door.Start(options->listen, bound);
      if (!listening.ok()) {
        qz::ServerLog("cannot serve http: " + listening.message());
        return 1;
      }
      for (const std::string& address : bound) {
        listeners.push_back((options->tls_cert.empty() ? "http://" : "https://") + address);
        qz::ServerLog("http: serving " + listeners.back());
      }
    }
    qz::StatusSources status_sources{
        env, served, objects, std::move(listeners), connection.get(), started_unix_ms};
    if (fleet_state) status_sources.fleet = [&fleet_state] { return fleet_state->Facts(); };
    *door_status = &status_sources;
    qz::CallRouter router(connection.get(), served, env, admission, uids, objects, lifetime,
                          &status_sources);
    qz::ServiceWatchdog watchdog(g_main_context_default(), objects.pool(), [&status_sources] {
      return qz::ServingLine(qz::GatherStatus(status_sources));
    });
    status = lifetime.Run();
    deadline = lifetime.StopDeadline();
    *door_status = nullptr;
  }
  // A run finished while the server wound down may have queued one more;
  // the stop's own grace bounds this wait too.
  if (!http_callbacks.WaitIdle(deadline))
    for (const std::string& label : http_callbacks.Unfinished())
      qz::ServerLog("stopping: callback " + label + " not made within the grace time");
  return status;
}
