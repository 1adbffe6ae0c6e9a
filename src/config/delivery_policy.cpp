#include "config/delivery_policy.h"

#include <charconv>
#include <optional>
#include <string>

#include "config/settings_groups.h"
#include "config/settings_path.h"
#include "platform/file_io.h"
#include "platform/ini_lookup.h"
#include "platform/trim.h"

namespace qz {
namespace {

constexpr std::string_view kDeliverySection = "Delivery";
// A week bounds every duration: more is a typo, not a policy.
constexpr long kMaxSeconds = 7L * 24 * 3600;
constexpr long kMaxAttempts = 100;
constexpr long kMaxKeptDays = 366;

std::optional<long> Whole(std::string_view text, std::string_view key, long low, long high) {
  std::optional<std::string_view> found = ini::FindValue(text, kDeliverySection, key);
  if (!found) return std::nullopt;
  std::string_view value = TrimBlanks(*found);
  long number = 0;
  auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (value.empty() || ec != std::errc() || end != value.data() + value.size() || number < low ||
      number > high)
    return std::nullopt;
  return number;
}

}  // namespace

DeliveryPolicy ParseDeliveryPolicy(std::string_view text) {
  DeliveryPolicy p;
  if (auto n = Whole(text, "Attempts", 1, kMaxAttempts)) p.attempts = static_cast<int>(*n);
  if (auto n = Whole(text, "FirstRetry", 1, kMaxSeconds)) p.first_retry = std::chrono::seconds(*n);
  if (auto n = Whole(text, "MaxDelay", 1, kMaxSeconds)) p.max_delay = std::chrono::seconds(*n);
  if (auto n = Whole(text, "GiveUpAfter", 1, kMaxSeconds))
    p.give_up_after = std::chrono::seconds(*n);
  if (auto n = Whole(text, "BreakAfter", 0, kMaxAttempts)) p.break_after = static_cast<int>(*n);
  if (auto n = Whole(text, "KeepFailed", 0, kMaxKeptDays))
    p.keep_failed_days = static_cast<int>(*n);
  // The ceiling is never below the first delay.
  if (p.max_delay < p.first_retry) p.max_delay = p.first_retry;
  return p;
}

DeliveryPolicy ReadDeliveryPolicy(std::string_view folder) {
  const std::string path = SettingsPath(folder, kMainSettingsFile);
  std::optional<std::string> text = ReadFileText(path.c_str());
  return text ? ParseDeliveryPolicy(*text) : DeliveryPolicy{};
}

}  // namespace qz
