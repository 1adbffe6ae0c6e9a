#include "server/status_view.h"

#include <algorithm>
#include <filesystem>

#include "contract/contract.h"
#include "dispatch/journal_file.h"
#include "dispatch/journal_listing.h"
#include "dispatch/journal_store.h"
#include "dispatch/retry_schedule.h"
#include "dispatch/server_environment.h"
#include "server/object_calls.h"
#include "server/replies.h"
#include "server/server_options.h"

namespace qz {
namespace {

constexpr std::string_view kStatusXml = R"(  <interface name="org.qznotes.QzNotes.Status">
    <method name="Status"><arg name="status" type="a{sv}" direction="out"/></method>
  </interface>
)";

void Add(GVariantBuilder& dict, const char* key, GVariant* value) {
  g_variant_builder_add(&dict, "{sv}", key, value);
}

GVariant* GatewayVariant(const GatewayReport& g) {
  GVariantBuilder d;
  g_variant_builder_init(&d, G_VARIANT_TYPE_VARDICT);
  Add(d, "up", g_variant_new_boolean(g.up));
  Add(d, "down_since_ms", g_variant_new_int64(g.down_since_unix_ms));
  Add(d, "last_success_ms", g_variant_new_int64(g.last_success_unix_ms));
  Add(d, "last_failure_ms", g_variant_new_int64(g.last_failure_unix_ms));
  Add(d, "last_failure", g_variant_new_string(g.last_failure.c_str()));
  Add(d, "failures_in_a_row", g_variant_new_int32(g.failures_in_a_row));
  Add(d, "held_until_ms", g_variant_new_int64(g.broken ? g.cool_until_unix_ms : 0));
  return g_variant_builder_end(&d);
}

GVariant* FleetVariant(const FleetFacts& fleet) {
  GVariantBuilder daemons;
  g_variant_builder_init(&daemons, G_VARIANT_TYPE_VARDICT);
  for (const FleetDaemonFacts& daemon : fleet.daemons) {
    GVariantBuilder d;
    g_variant_builder_init(&d, G_VARIANT_TYPE_VARDICT);
    GVariantBuilder serves;
    g_variant_builder_init(&serves, G_VARIANT_TYPE_STRING_ARRAY);
    for (const std::string& s : daemon.serves) g_variant_builder_add(&serves, "s", s.c_str());
    Add(d, "serves", g_variant_builder_end(&serves));
    Add(d, "seen_ms", g_variant_new_int64(daemon.seen_unix_ms));
    Add(d, "alive", g_variant_new_boolean(daemon.alive));
    Add(d, "holds", g_variant_new_uint32(daemon.holds));
    Add(daemons, daemon.name.c_str(), g_variant_builder_end(&d));
  }
  GVariantBuilder f;
  g_variant_builder_init(&f, G_VARIANT_TYPE_VARDICT);
  Add(f, "daemons", g_variant_builder_end(&daemons));
  Add(f, "unclaimable", g_variant_new_uint32(fleet.unclaimable));
  return g_variant_builder_end(&f);
}

}  // namespace

StatusFacts GatherStatus(const StatusSources& sources) {
  StatusFacts f;
  f.version = QZ_VERSION;
  f.started_unix_ms = sources.started_unix_ms;
  f.now_unix_ms = UnixMsNow();
  f.stopping = sources.objects.stopping();
  f.pending = static_cast<uint32_t>(sources.objects.UnfinishedWork().size());
  if (const GatewayHealth* health = sources.env.health) {
    f.retrying = static_cast<uint32_t>(std::max(health->WaitingRequests(), 0));
    f.gateways = health->Snapshot();
  }
  if (sources.env.journal) {
    f.failed = static_cast<uint32_t>(sources.env.journal->FailedCount());
  }
  f.bus_name = kBusName;
  if (sources.connection)
    if (const char* unique = g_dbus_connection_get_unique_name(sources.connection))
      f.unique_name = unique;
  f.listeners = sources.listeners;
  f.limits = sources.options.limits;
  return f;
}

GVariant* StatusReply(const StatusFacts& f) {
  GVariantBuilder d;
  g_variant_builder_init(&d, G_VARIANT_TYPE_VARDICT);
  Add(d, "version", g_variant_new_string(f.version.c_str()));
  Add(d, "started_ms", g_variant_new_int64(f.started_unix_ms));
  Add(d, "now_ms", g_variant_new_int64(f.now_unix_ms));
  Add(d, "pending", g_variant_new_uint32(f.pending));
  Add(d, "retrying", g_variant_new_uint32(f.retrying));
  Add(d, "failed", g_variant_new_uint32(f.failed));
  Add(d, "journal_bytes", g_variant_new_uint64(f.journal_bytes));
  Add(d, "bus_name", g_variant_new_string(f.bus_name.c_str()));
  Add(d, "unique_name", g_variant_new_string(f.unique_name.c_str()));
  GVariantBuilder listeners;
  g_variant_builder_init(&listeners, G_VARIANT_TYPE_STRING_ARRAY);
  for (const std::string& l : f.listeners) g_variant_builder_add(&listeners, "s", l.c_str());
  Add(d, "listeners", g_variant_builder_end(&listeners));
  GVariantBuilder limits;
  g_variant_builder_init(&limits, G_VARIANT_TYPE("a{st}"));
  for (const LimitRow& row : kLimitRows)
    g_variant_builder_add(&limits, "{st}", row.option,
                          static_cast<guint64>(LimitValue(f.limits, row.limit)));
  Add(d, "limits", g_variant_builder_end(&limits));
  GVariantBuilder gateways;
  g_variant_builder_init(&gateways, G_VARIANT_TYPE_VARDICT);
  for (const GatewayReport& g : f.gateways) Add(gateways, g.gateway.c_str(), GatewayVariant(g));
  Add(d, "gateways", g_variant_builder_end(&gateways));
  if (f.fleet) Add(d, "fleet", FleetVariant(*f.fleet));
  return g_variant_new("(a{sv})", &d);
}

std::string_view StatusInterfaceXml() { return kStatusXml; }

void AnswerStatusCall(GDBusConnection* connection, GDBusMessage* call,
                      const StatusSources& sources) {
  std::string_view member = g_dbus_message_get_member(call);
  GVariant* body = g_dbus_message_get_body(call);
  if (member != "Status")
    return SendErrorNamed(connection, call, "org.freedesktop.DBus.Error.UnknownMethod",
                          "No method " + std::string(member) + " on " + kStatusInterface);
  if (body && g_variant_n_children(body) > 0)
    return SendErrorNamed(connection, call, kInvalidArgsError, "Status takes no arguments");
  StatusFacts facts = GatherStatus(sources);
  if (sources.env.journal) facts.journal_bytes = JournalDiskBytes(sources.env.folder);
  if (sources.fleet) facts.fleet = sources.fleet();
  SendReply(connection, call, StatusReply(facts));
}

}  // namespace qz
