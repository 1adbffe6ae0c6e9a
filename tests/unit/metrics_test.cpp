#include "diagnostics/metrics.h"

#include <gtest/gtest.h>

#include "dispatch/delivery_count.h"

namespace qz {
namespace {

using namespace std::chrono_literals;

// The value of the sample `series` (name and labels) in `text`; -1 when absent.
double SampleOf(const std::string& text, const std::string& series) {
  const size_t at = text.find("\n" + series + " ");
  return at == std::string::npos ? -1 : std::stod(text.substr(at + series.size() + 2));
}

TEST(Metrics, CountsLandUnderTheirLabelsAndHistogramsAccumulate) {
  Metrics metrics({{"SNPP", "odd \"name\"\\"}, {"max-objects", "max-depth"}, "1.2"});
  metrics.Delivered("SNPP", DeliveryOutcome::kSent, 30ms);
  metrics.Delivered("SNPP", DeliveryOutcome::kTransient, 2s);
  metrics.Delivered("SNPP", DeliveryOutcome::kSent, 10min);  // past every bucket but +Inf
  metrics.Delivered("not in the table", DeliveryOutcome::kSent, 1s);
  metrics.Refused(1);
  metrics.Refused(7);  // no such limit
  metrics.CalledBack(CallbackKind::kHttp, false);
  const std::string text =
      "\n" + metrics.Render(
                 {.pending = 4,
                  .gateways = {{.gateway = "SNPP", .up = false, .last_success_unix_ms = 1500}}});
  const struct {
    std::string series;
    double value;
  } cases[] = {
      {R"(qznotes_deliveries_total{gateway="SNPP",outcome="sent"})", 2},
      {R"(qznotes_deliveries_total{gateway="SNPP",outcome="transient"})", 1},
      {R"(qznotes_deliveries_total{gateway="odd \"name\"\\",outcome="sent"})", 0},
      {R"(qznotes_delivery_duration_seconds_bucket{gateway="SNPP",le="0.05"})", 1},
      {R"(qznotes_delivery_duration_seconds_bucket{gateway="SNPP",le="2.5"})", 2},
      {R"(qznotes_delivery_duration_seconds_bucket{gateway="SNPP",le="+Inf"})", 3},
      {R"(qznotes_delivery_duration_seconds_sum{gateway="SNPP"})", 602.03},
      {R"(qznotes_limit_refusals_total{limit="max-depth"})", 1},
      {R"(qznotes_limit_refusals_total{limit="max-objects"})", 0},
      {R"(qznotes_callbacks_total{kind="http",outcome="failed"})", 1},
      {"qznotes_requests_pending", 4},
      {R"(qznotes_gateway_up{gateway="SNPP"})", 0},
      {R"(qznotes_gateway_last_success_timestamp_seconds{gateway="SNPP"})", 1.5},
      {R"(qznotes_build_info{version="1.2"})", 1},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(SampleOf(text, c.series), c.value) << c.series;
}

TEST(Metrics, AChannelCallIsSortedByWhatItsPartsSay) {
  auto part = [](PartState state) {
    DeliveredPart made;
    made.state = state;
    return made;
  };
  const DeliveredPart sent = part(PartState::kSent), later = part(PartState::kTransient),
                      never = part(PartState::kPermanent);
  const struct {
    bool delivered;
    std::vector<DeliveredPart> parts;
    std::optional<DeliveryOutcome> outcome;
  } cases[] = {
      {true, {}, std::nullopt},  // nobody was addressed: nothing went
      {true, {sent, sent}, DeliveryOutcome::kSent},
      {false, {sent, never, later}, DeliveryOutcome::kTransient},  // one may still go
      {false, {sent, never}, DeliveryOutcome::kPermanent},
      {false, {}, DeliveryOutcome::kPermanent},  // failed before any part was told
  };
  for (const auto& c : cases) EXPECT_EQ(ChannelOutcome(c.delivered, c.parts), c.outcome);
}

}  // namespace
}  // namespace qz
