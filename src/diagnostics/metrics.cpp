#include "diagnostics/metrics.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <tuple>
#include <utility>

namespace qz {
namespace {

constexpr std::string_view kBoundaryLabels[] = {"dbus", "http"};
constexpr std::string_view kOutcomeLabels[] = {"sent", "transient", "permanent"};
constexpr std::string_view kCallbackKindLabels[] = {"dbus", "http"};
constexpr std::string_view kCallbackOutcomeLabels[] = {"sent", "failed"};

// The shortest text that reads back as the same number ("0.25", "120").
std::string MetricNumber(double value) {
  char text[32];
  const auto [end, error] = std::to_chars(std::begin(text), std::end(text), value);
  return error == std::errc() ? std::string(text, end) : "NaN";
}

// Backslash, double quote and line feed are escaped in a label value.
std::string EscapedLabelValue(std::string_view value) {
  std::string escaped;
  for (char c : value) {
    if (c == '\\' || c == '"') escaped.push_back('\\');
    if (c == '\n') {
      escaped.append("\\n");
      continue;
    }
    escaped.push_back(c);
  }
  return escaped;
}

// Appends one family's HELP and TYPE lines.
void AppendFamily(std::string& out, std::string_view name, std::string_view type,
                  std::string_view help) {
  out.append("# HELP ").append(name).append(" ").append(help).append("\n");
  out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

// Appends one sample; `labels` is already in braces, or empty.
void AppendSample(std::string& out, std::string_view name, std::string_view labels,
                  std::string value) {
  out.append(name).append(labels).append(" ").append(value).append("\n");
}

std::string LabelSet(std::initializer_list<std::pair<std::string_view, std::string_view>> labels) {
  std::string text = "{";
  for (const auto& [key, value] : labels) {
    if (text.size() > 1) text.push_back(',');
    text.append(key).append("=\"").append(EscapedLabelValue(value)).append("\"");
  }
  return text + "}";
}

uint64_t ReadCounter(const std::atomic<uint64_t>& counter) {
  return counter.load(std::memory_order_relaxed);
}

}  // namespace

Metrics::Metrics(Labels labels)
    : labels_(std::move(labels)),
      gateways_(std::make_unique<GatewayCounters[]>(labels_.gateways.size())),
      refusals_(std::make_unique<Counter[]>(labels_.limits.size())) {}

void Metrics::Delivered(std::string_view gateway, DeliveryOutcome outcome,
                        std::chrono::nanoseconds took) {
  for (size_t g = 0; g < labels_.gateways.size(); ++g) {
    if (labels_.gateways[g] != gateway) continue;
    GatewayCounters& counters = gateways_[g];
    Add(counters.outcomes[Index(outcome)]);
    const double seconds = std::chrono::duration<double>(took).count();
    for (size_t b = 0; b < kDurationBuckets.size(); ++b)
      if (seconds <= kDurationBuckets[b]) {
        Add(counters.buckets[b]);
        break;
      }
    Add(counters.count);
    Add(counters.nanoseconds, static_cast<uint64_t>(std::max<int64_t>(took.count(), 0)));
    return;
  }
}

void Metrics::Refused(size_t limit) {
  if (limit < labels_.limits.size()) Add(refusals_[limit]);
}

std::string Metrics::Render(const SampledMetrics& sampled) const {
  std::string out;
  constexpr std::string_view kAccepted = "qznotes_requests_accepted_total";
  AppendFamily(out, kAccepted, "counter",
               "Notification requests accepted, by the boundary they came in.");
  for (size_t b = 0; b < accepted_.size(); ++b)
    AppendSample(out, kAccepted, LabelSet({{"boundary", kBoundaryLabels[b]}}),
                 std::to_string(ReadCounter(accepted_[b])));

  constexpr std::string_view kDeliveries = "qznotes_deliveries_total";
  AppendFamily(out, kDeliveries, "counter",
               "Tries of a gateway for one message group, by gateway and outcome.");
  for (size_t g = 0; g < labels_.gateways.size(); ++g)
    for (size_t o = 0; o < std::size(kOutcomeLabels); ++o)
      AppendSample(out, kDeliveries,
                   LabelSet({{"gateway", labels_.gateways[g]}, {"outcome", kOutcomeLabels[o]}}),
                   std::to_string(ReadCounter(gateways_[g].outcomes[o])));

  constexpr std::string_view kDuration = "qznotes_delivery_duration_seconds";
  AppendFamily(out, kDuration, "histogram", "How long a gateway took for one message group.");
  for (size_t g = 0; g < labels_.gateways.size(); ++g) {
    const GatewayCounters& counters = gateways_[g];
    const std::string_view name = labels_.gateways[g];
    // Read once: the buckets are counted before the total, so a scrape
    // amid a delivery never shows a bucket above the count.
    const uint64_t count = ReadCounter(counters.count);
    uint64_t cumulative = 0;
    for (size_t b = 0; b < kDurationBuckets.size(); ++b) {
      cumulative += ReadCounter(counters.buckets[b]);
      AppendSample(out, std::string(kDuration) + "_bucket",
                   LabelSet({{"gateway", name}, {"le", MetricNumber(kDurationBuckets[b])}}),
                   std::to_string(std::min(cumulative, count)));
    }
    AppendSample(out, std::string(kDuration) + "_bucket",
                 LabelSet({{"gateway", name}, {"le", "+Inf"}}), std::to_string(count));
    AppendSample(out, std::string(kDuration) + "_sum", LabelSet({{"gateway", name}}),
                 MetricNumber(static_cast<double>(ReadCounter(counters.nanoseconds)) / 1e9));
    AppendSample(out, std::string(kDuration) + "_count", LabelSet({{"gateway", name}}),
                 std::to_string(count));
  }

  const std::pair<std::string_view, std::string_view> request_gauges[] = {
      {"qznotes_requests_pending", "Accepted requests whose run has not ended."},
      {"qznotes_requests_retrying", "Requests waiting for their next try."},
      {"qznotes_requests_failed", "Requests given up and kept as dead letters."},
      {"qznotes_journal_bytes", "Bytes of the request journal's files."},
  };
  const int64_t request_values[] = {sampled.pending, sampled.retrying, sampled.failed,
                                    sampled.journal_bytes};
  for (size_t i = 0; i < std::size(request_gauges); ++i) {
    AppendFamily(out, request_gauges[i].first, "gauge", request_gauges[i].second);
    AppendSample(out, request_gauges[i].first, "", std::to_string(request_values[i]));
  }
  if (sampled.fleet_unclaimable) {
    constexpr std::string_view kUnclaimable = "qznotes_fleet_unclaimable_tries";
    AppendFamily(out, kUnclaimable, "gauge",
                 "Tries overdue by a lease that no live daemon of the fleet serves.");
    AppendSample(out, kUnclaimable, "", std::to_string(*sampled.fleet_unclaimable));
  }

  constexpr std::string_view kUp = "qznotes_gateway_up";
  AppendFamily(out, kUp, "gauge", "1 when the gateway's last try succeeded.");
  for (const GatewayReport& g : sampled.gateways)
    AppendSample(out, kUp, LabelSet({{"gateway", g.gateway}}), g.up ? "1" : "0");
  constexpr std::string_view kLastSuccess = "qznotes_gateway_last_success_timestamp_seconds";
  AppendFamily(out, kLastSuccess, "gauge", "Unix time of the gateway's last successful try.");
  for (const GatewayReport& g : sampled.gateways)
    if (g.last_success_unix_ms > 0)
      AppendSample(out, kLastSuccess, LabelSet({{"gateway", g.gateway}}),
                   MetricNumber(static_cast<double>(g.last_success_unix_ms) / 1000));

  constexpr std::string_view kCallbacks = "qznotes_callbacks_total";
  AppendFamily(out, kCallbacks, "counter",
               "Callbacks to the requesting party, by kind and outcome.");
  for (size_t k = 0; k < callbacks_.size(); ++k)
    for (size_t o = 0; o < std::size(kCallbackOutcomeLabels); ++o)
      AppendSample(
          out, kCallbacks,
          LabelSet({{"kind", kCallbackKindLabels[k]}, {"outcome", kCallbackOutcomeLabels[o]}}),
          std::to_string(ReadCounter(callbacks_[k][o])));

  constexpr std::string_view kRefusals = "qznotes_limit_refusals_total";
  AppendFamily(out, kRefusals, "counter",
               "Calls refused for passing a limit, by the limit's option.");
  for (size_t l = 0; l < labels_.limits.size(); ++l)
    AppendSample(out, kRefusals, LabelSet({{"limit", labels_.limits[l]}}),
                 std::to_string(ReadCounter(refusals_[l])));

  constexpr std::string_view kBuild = "qznotes_build_info";
  AppendFamily(out, kBuild, "gauge", "Always 1; the version is its label.");
  AppendSample(out, kBuild, LabelSet({{"version", labels_.version}}), "1");

  const std::tuple<std::string_view, std::string_view, std::string> process[] = {
      {"process_resident_memory_bytes", "Resident memory size in bytes.",
       std::to_string(sampled.resident_bytes)},
      {"process_open_fds", "Number of open file descriptors.", std::to_string(sampled.open_fds)},
      {"process_start_time_seconds", "Start time of the process since the Unix epoch in seconds.",
       MetricNumber(sampled.start_time_seconds)},
  };
  for (const auto& [name, help, value] : process) {
    AppendFamily(out, name, "gauge", help);
    AppendSample(out, name, "", value);
  }
  return out;
}

}  // namespace qz
