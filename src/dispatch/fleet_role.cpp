#include "dispatch/fleet_role.h"

#include "dispatch/journal_store.h"

namespace qz {
namespace {

// Whether the groups (of messages, of recipients) name a recipient. An
// array without dimensions names none (its Items() raise).
bool NamesRecipient(const Variant& value, int depth = 3) {
  if (!value.IsArray()) return depth < 3 && !value.IsEmpty() && !value.IsNull();
  if (depth == 0) return false;
  try {
    for (const Variant& item : value.Items())
      if (NamesRecipient(item, depth - 1)) return true;
  } catch (...) {
  }
  return false;
}

}  // namespace

std::string FleetNames(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text.append(text.empty() ? "" : ",").append(name);
  return text.empty() ? "nothing" : text;
}

std::vector<std::string> TryNeeds(const RequestRecord& record, std::string_view paging) {
  std::vector<std::string> needs;
  if (record.mblnMailEnabled && NamesRecipient(record.mvarEmail)) needs.emplace_back("mail");
  if (!paging.empty() && NamesRecipient(record.mvarPager)) needs.emplace_back(paging);
  return needs;
}

bool LeaseWatch::Holds() {
  if (!lost_ && !store_.StillHolds(key_)) lost_ = true;
  return !lost_;
}

GateAnswer LeaseGate::Before(const std::string& text, const Variant& to) {
  if (!watch_.Holds())
    return {.verdict = GateVerdict::kWait, .why = "the try went to another daemon"};
  return inner_ ? inner_->Before(text, to) : GateAnswer{};
}

void LeaseGate::After(const std::string& text, const Variant& to, bool sent) {
  if (inner_) inner_->After(text, to, sent);
}

}  // namespace qz
