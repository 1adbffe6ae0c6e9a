// The daemon's counters for a Prometheus scrape: requests accepted, gateway
// deliveries and their durations, callbacks, limit refusals and requests
// waiting for a retry. The label values (gateway and limit names) are fixed
// at construction, so counting is a lookup in a short table and a relaxed
// atomic add: no lock and no allocation on a request's path. Render() reads
// each counter once; what is sampled rather than counted is handed to it.
// Safe from any thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "diagnostics/gateway_health.h"

namespace qz {

enum class Boundary : uint8_t { kDbus, kHttp };
enum class DeliveryOutcome : uint8_t { kSent, kTransient, kPermanent };
enum class CallbackKind : uint8_t { kDbus, kHttp };

// What a scrape reads at its own time rather than counts.
struct SampledMetrics {
  int64_t pending = 0;                         // accepted requests whose run has not ended
  int64_t retrying = 0;                        // of those, waiting for their next try
  int64_t failed = 0;                          // dead letters
  int64_t journal_bytes = 0;                   // the request journal's files
  std::optional<int64_t> fleet_unclaimable{};  // in a fleet: tries no live daemon serves
  std::vector<GatewayReport> gateways{};       // how each gateway fared lately
  int64_t resident_bytes = 0;
  int64_t open_fds = 0;
  double start_time_seconds = 0;  // Unix time the process started
};

class Metrics {
 public:
  struct Labels {
    std::vector<std::string> gateways;  // the gateway table's names
    std::vector<std::string> limits;    // the limit options' names, by index
    std::string version;
  };
  explicit Metrics(Labels labels);
  Metrics(const Metrics&) = delete;
  Metrics& operator=(const Metrics&) = delete;

  void Accepted(Boundary boundary) { Add(accepted_[Index(boundary)]); }
  // A gateway name the table did not give is not counted.
  void Delivered(std::string_view gateway, DeliveryOutcome outcome, std::chrono::nanoseconds took);
  void CalledBack(CallbackKind kind, bool sent) { Add(callbacks_[Index(kind)][sent ? 0 : 1]); }
  void Refused(size_t limit);  // an index into Labels::limits

  // Every metric in the text exposition format (version 0.0.4).
  std::string Render(const SampledMetrics& sampled) const;

  static constexpr std::array<double, 12> kDurationBuckets = {0.01, 0.05, 0.1, 0.25, 0.5, 1,
                                                              2.5,  5,    10,  30,   60,  120};

 private:
  using Counter = std::atomic<uint64_t>;
  struct GatewayCounters {
    std::array<Counter, 3> outcomes{};                       // by DeliveryOutcome
    std::array<Counter, kDurationBuckets.size()> buckets{};  // not cumulative
    Counter count{};
    Counter nanoseconds{};
  };
  static void Add(Counter& counter, uint64_t n = 1) {
    counter.fetch_add(n, std::memory_order_relaxed);
  }
  template <typename E>
  static size_t Index(E e) {
    return static_cast<size_t>(e);
  }

  const Labels labels_;
  std::array<Counter, 2> accepted_{};                  // by Boundary
  std::array<std::array<Counter, 2>, 2> callbacks_{};  // by CallbackKind, then sent or failed
  std::unique_ptr<GatewayCounters[]> gateways_;        // by Labels::gateways
  std::unique_ptr<Counter[]> refusals_;                // by Labels::limits
};

}  // namespace qz
