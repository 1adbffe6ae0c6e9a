// What one server has sent lately (SendLedger): per gateway and recipient
// the times of recent sends, and per gateway, recipient and text who sent
// it last, in memory. One per server,
// shared by every object (ServerEnvironment); entries that left their
// window are dropped. The duplicate window survives a restart: each send
// is appended to a small file in the journal folder and synced, and the
// file is rewritten without expired lines once most of it is expired.
// Nothing is read or written until a duplicate window is asked for.
// Safe from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "config/delivery_policy.h"
#include "dispatch/send_ledger.h"
#include "gateways/delivery_gate.h"

namespace qz {

// The file of the duplicate window, beside the request journal's files.
inline constexpr std::string_view kRecentSendsFile = "recent-sends";

class DeliveryLedger final : public SendLedger {
 public:
  // `folder`: where the duplicate window is kept; empty: in memory only.
  explicit DeliveryLedger(std::string folder,
                          std::function<void(std::string_view line)> report = nullptr);

  std::optional<Hold> Take(const std::string& recipient, const std::vector<ThrottleCap>& caps,
                           int64_t now_ms) override;
  void GiveBack(const std::string& recipient, int64_t taken_ms) override;
  std::optional<std::string> DuplicateOf(const std::string& digest, std::chrono::seconds window,
                                         int64_t now_ms) override;
  void RecordSent(const std::string& digest, std::string_view request, std::chrono::seconds window,
                  int64_t now_ms) override;

 private:
  struct Sent {
    int64_t unix_ms;
    std::string request;
  };
  void LoadOnce(int64_t oldest_ms);  // with mutex_ held
  void Forget(int64_t oldest_ms);    // with mutex_ held
  void Persist(const std::string& line, int64_t oldest_ms);
  void Trouble(const std::string& what);

  const std::string folder_;
  const std::function<void(std::string_view)> report_;
  std::mutex mutex_;
  std::unordered_map<std::string, std::deque<int64_t>> sends_;
  size_t sends_swept_ = 0;  // how many keys the last sweep left
  std::unordered_map<std::string, Sent> recent_;
  size_t recent_swept_ = 0;
  bool loaded_ = false;
  size_t file_lines_ = 0;
  bool troubled_ = false;  // said once until a write works again
};

// What one channel of one request sees of the ledger: it names the route
// and the request, and folds in what else makes a text the same (a mail's
// subject). Made for one channel call on the request's thread.
class LedgerGate final : public DeliveryGate {
 public:
  struct Lane {
    std::string kind;     // "page" or "mail", for the daemon's line
    std::string gateway;  // "SNPP", "SMTP"...
    std::string request;  // the test identifier
    std::string also_same = {};
    bool throttled = true;
  };
  LedgerGate(SendLedger& ledger, const DeliveryGates& gates, Lane lane,
             std::function<void(std::string_view line)> report)
      : ledger_(ledger), gates_(gates), lane_(std::move(lane)), report_(std::move(report)) {}

  GateAnswer Before(const std::string& text, const Variant& to) override;
  void After(const std::string& text, const Variant& to, bool sent) override;

 private:
  std::optional<std::string> Recipient(const Variant& to) const;
  std::string Digest(const std::string& recipient, const std::string& text) const;

  SendLedger& ledger_;
  const DeliveryGates& gates_;
  const Lane lane_;
  const std::function<void(std::string_view)> report_;
  std::optional<int64_t> taken_ms_;  // the slot Before took for the send under way
};

}  // namespace qz
