// `qznotes status`: the server's Status answer for people (aligned lines,
// local times with how long ago) or, with --json, as one JSON object.
#include <algorithm>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "client/quoted_string.h"
#include "client/runners.h"
#include "client/server_views.h"
#include "client/value_json.h"
#include "diagnostics/gateway_health.h"
#include "platform/holders.h"

namespace qz::client {
namespace {

constexpr int kStatusCallMs = 25'000;
constexpr size_t kLabelWidth = 31;  // "limit max-total-journal-bytes" fits

// Dictionaries become JSON objects; everything else prints as elsewhere.
void AppendStatusJson(std::string& out, GVariant* value) {
  if (g_variant_is_of_type(value, G_VARIANT_TYPE_VARIANT)) {
    VariantPtr inner(g_variant_get_variant(value));
    return AppendStatusJson(out, inner.get());
  }
  if (!g_variant_is_of_type(value, G_VARIANT_TYPE("a{s*}"))) {
    out += FormatJson(value);
    return;
  }
  out += '{';
  const gsize n = g_variant_n_children(value);
  for (gsize k = 0; k < n; ++k) {
    VariantPtr entry(g_variant_get_child_value(value, k));
    VariantPtr key(g_variant_get_child_value(entry.get(), 0));
    VariantPtr item(g_variant_get_child_value(entry.get(), 1));
    if (k > 0) out += ',';
    AppendQuoted(out, g_variant_get_string(key.get(), nullptr));
    out += ':';
    AppendStatusJson(out, item.get());
  }
  out += '}';
}

int64_t Int(GVariant* dict, const char* key) {
  VariantPtr v(g_variant_lookup_value(dict, key, nullptr));
  if (!v) return 0;
  if (g_variant_is_of_type(v.get(), G_VARIANT_TYPE_INT64)) return g_variant_get_int64(v.get());
  if (g_variant_is_of_type(v.get(), G_VARIANT_TYPE_UINT64))
    return static_cast<int64_t>(g_variant_get_uint64(v.get()));
  if (g_variant_is_of_type(v.get(), G_VARIANT_TYPE_UINT32)) return g_variant_get_uint32(v.get());
  if (g_variant_is_of_type(v.get(), G_VARIANT_TYPE_INT32)) return g_variant_get_int32(v.get());
  return 0;
}

std::string Text(GVariant* dict, const char* key) {
  VariantPtr v(g_variant_lookup_value(dict, key, G_VARIANT_TYPE_STRING));
  return v ? g_variant_get_string(v.get(), nullptr) : "";
}

// "2026-12-07T10:42:05 (3 min ago)" in local time; "never" for 0.
std::string When(int64_t unix_ms, int64_t now_ms) {
  if (unix_ms == 0) return "never";
  const std::time_t t = static_cast<std::time_t>(unix_ms / 1000);
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return std::string(text) + " (" + SpanText(now_ms - unix_ms) + " ago)";
}

void Line(std::ostream& out, std::string_view label, std::string_view value) {
  std::string padded(label);
  padded.resize(std::max(kLabelWidth, label.size() + 1), ' ');
  out << padded << value << '\n';
}

}  // namespace

void PrintFleet(GVariant* s, std::ostream& out) {
  const int64_t now = Int(s, "now_ms");
  VariantPtr fleet(g_variant_lookup_value(s, "fleet", G_VARIANT_TYPE_VARDICT));
  if (!fleet) return;
  VariantPtr daemons(g_variant_lookup_value(fleet.get(), "daemons", G_VARIANT_TYPE_VARDICT));
  std::vector<std::pair<std::string, std::string>> lines;
  size_t alive = 0;
  GVariantIter iter;
  if (daemons) g_variant_iter_init(&iter, daemons.get());
  const char* name = nullptr;
  GVariant* raw = nullptr;
  while (daemons && g_variant_iter_next(&iter, "{&sv}", &name, &raw)) {
    VariantPtr d(raw);
    VariantPtr up(g_variant_lookup_value(d.get(), "alive", G_VARIANT_TYPE_BOOLEAN));
    const bool lives = up && g_variant_get_boolean(up.get());
    alive += lives;
    std::string serves;
    if (VariantPtr list{g_variant_lookup_value(d.get(), "serves", G_VARIANT_TYPE("as"))})
      for (gsize k = 0, n = g_variant_n_children(list.get()); k < n; ++k) {
        VariantPtr item(g_variant_get_child_value(list.get(), k));
        serves += (k ? "," : "") + std::string(g_variant_get_string(item.get(), nullptr));
      }
    lines.emplace_back(std::string("daemon ") + name,
                       std::string(lives ? "alive" : "gone") + ", serves " +
                           (serves.empty() ? "nothing" : serves) + ", holds " +
                           std::to_string(Int(d.get(), "holds")) + " tries, seen " +
                           When(Int(d.get(), "seen_ms"), now));
  }
  Line(out, "fleet",
       std::to_string(lines.size()) + " daemons, " + std::to_string(alive) + " alive, " +
           std::to_string(Int(fleet.get(), "unclaimable")) + " tries nobody can claim");
  for (const auto& [label, value] : lines) Line(out, label, value);
}

namespace {

void PrintForPeople(GVariant* s, std::ostream& out) {
  const int64_t now = Int(s, "now_ms");
  Line(out, "version", Text(s, "version"));
  Line(out, "up since", When(Int(s, "started_ms"), now));
  Line(out, "requests",
       std::to_string(Int(s, "pending")) + " pending, " + std::to_string(Int(s, "retrying")) +
           " retrying, " + std::to_string(Int(s, "failed")) + " failed");
  Line(out, "journal", std::to_string(Int(s, "journal_bytes")) + " bytes");
  Line(out, "bus name", Text(s, "bus_name") + " (" + Text(s, "unique_name") + ")");
  if (VariantPtr listeners{g_variant_lookup_value(s, "listeners", G_VARIANT_TYPE("as"))}) {
    const gsize n = g_variant_n_children(listeners.get());
    for (gsize k = 0; k < n; ++k) {
      VariantPtr l(g_variant_get_child_value(listeners.get(), k));
      Line(out, "listening on", g_variant_get_string(l.get(), nullptr));
    }
  }
  if (VariantPtr limits{g_variant_lookup_value(s, "limits", G_VARIANT_TYPE("a{st}"))}) {
    GVariantIter iter;
    g_variant_iter_init(&iter, limits.get());
    const char* name = nullptr;
    guint64 value = 0;
    while (g_variant_iter_next(&iter, "{&st}", &name, &value))
      Line(out, std::string("limit ") + name, std::to_string(value));
  }
  PrintFleet(s, out);
  VariantPtr gateways(g_variant_lookup_value(s, "gateways", G_VARIANT_TYPE_VARDICT));
  if (!gateways || g_variant_n_children(gateways.get()) == 0) {
    Line(out, "gateways", "none tried yet");
    return;
  }
  GVariantIter iter;
  g_variant_iter_init(&iter, gateways.get());
  const char* name = nullptr;
  GVariant* raw = nullptr;
  while (g_variant_iter_next(&iter, "{&sv}", &name, &raw)) {
    VariantPtr g(raw);
    VariantPtr up(g_variant_lookup_value(g.get(), "up", G_VARIANT_TYPE_BOOLEAN));
    std::string state = up && g_variant_get_boolean(up.get())
                            ? std::string("up")
                            : "down since " + When(Int(g.get(), "down_since_ms"), now);
    if (const int64_t held = Int(g.get(), "held_until_ms"); held > now)
      state += ", new tries wait " + SpanText(held - now);
    Line(out, std::string("gateway ") + name, state);
    Line(out, "  last success", When(Int(g.get(), "last_success_ms"), now));
    std::string failure = When(Int(g.get(), "last_failure_ms"), now);
    if (const std::string why = Text(g.get(), "last_failure"); !why.empty()) failure += ": " + why;
    Line(out, "  last failure", failure);
  }
}

}  // namespace

void PrintStatus(GVariant* status, bool json, std::ostream& out) {
  if (!json) return PrintForPeople(status, out);
  std::string text;
  AppendStatusJson(text, status);
  out << text << '\n';
}

ExitStatus RunStatus(GDBusConnection* connection, const GlobalOptions& global, const StatusCommand&,
                     Console console) {
  ErrorPtr error;
  // Asking how a server does must not start one.
  VariantPtr reply(g_dbus_connection_call_sync(
      connection, global.destination.c_str(), kFactoryPath, kStatusInterface, "Status", nullptr,
      G_VARIANT_TYPE("(a{sv})"), G_DBUS_CALL_FLAGS_NO_AUTO_START, kStatusCallMs, nullptr,
      ErrorSlot(error)));
  if (!reply) {
    if (g_error_matches(error.get(), G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
        g_error_matches(error.get(), G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER)) {
      ReportProblem(
          console, global.json, "not-running",
          "the server is not running: no one owns " + global.destination + " on this bus");
      return kExitFailed;
    }
    return ReportFailure(error.get(), global, console);
  }
  VariantPtr status(g_variant_get_child_value(reply.get(), 0));
  PrintStatus(status.get(), global.json, console.out);
  return kExitOk;
}

}  // namespace qz::client
