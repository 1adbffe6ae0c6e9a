#include "dispatch/request_narrowing.h"

#include <algorithm>

namespace qz {
namespace {

std::string NarrowedEntryText(const Variant& entry) {
  if (entry.IsNull()) return "(Null)";
  if (!entry.IsArray()) {
    try {
      return entry.Text();
    } catch (...) {
      return "(not text)";  // an object: the channel could not use it either
    }
  }
  std::string text;
  for (const Variant& item : entry.Items())
    if (!item.IsEmpty()) text += (text.empty() ? "" : ", ") + NarrowedEntryText(item);
  return text;
}

// The entry a part names, or null when the arrays do not hold it (the part
// was told for a shape the channel skipped).
Variant* PartEntry(Variant& lists, const DeliveredPart& part) {
  if (!lists.IsArray() || part.message < lists.LBound() || part.message > lists.UBound())
    return nullptr;
  Variant& list = lists.At(part.message);
  if (!part.recipient) return &list;
  if (!list.IsArray() || *part.recipient < list.LBound() || *part.recipient > list.UBound())
    return nullptr;
  return &list.At(*part.recipient);
}

void NarrowChannel(Variant& lists, const ChannelTry& channel, std::string_view status,
                   const std::vector<DeliveredPart>& parts, int64_t group, Narrowing& n) {
  if (!lists.IsArray()) return;  // nothing was to go this way
  bool told = false;
  bool left = false;
  bool kept = false;  // held back only
  std::string refused;
  std::string unsent;
  for (const DeliveredPart& part : parts) {
    if (part.group != group) continue;
    told = true;
    Variant* entry = PartEntry(lists, part);
    if (!entry || entry->IsEmpty()) continue;
    if (part.state == PartState::kSent) {
      *entry = Variant();
      continue;
    }
    const std::string why = part.text.empty() ? "not tried" : part.text;
    if (part.state == PartState::kWaiting) {
      kept = true;
      n.failed.push_back(channel.kind + " (" + channel.name + ") to " + NarrowedEntryText(*entry) +
                         ": " + why);
      if (part.retry_after)
        n.waiting = std::max(n.waiting.value_or(*part.retry_after), *part.retry_after);
      continue;
    }
    const bool again = part.state == PartState::kTransient;
    // The entries of a whole message that went are not sent again.
    if (again && !part.recipient && entry->IsArray())
      for (int32_t j : part.went)
        if (j >= entry->LBound() && j <= entry->UBound()) entry->At(j) = Variant();
    unsent.append("\r\n").append(why);
    // The line is one line: a reply's own line end is left to the log entry.
    const std::string said = why.substr(0, why.find_last_not_of("\r\n") + 1);
    n.failed.push_back(channel.kind + " (" + channel.name + ") to " + NarrowedEntryText(*entry) +
                       ": " + (again ? "failed: " : "refused for good: ") + said);
    if (again) {
      left = true;
      if (part.retry_after)
        n.retry_after =
            std::max(n.retry_after.value_or(part.retry_after->zero()), *part.retry_after);
    } else {
      refused.append("\r\n").append(why);
      *entry = Variant();
    }
  }
  if (!refused.empty()) n.permanent.append(status).append(refused).append("::");
  if (!unsent.empty()) n.unsent.append(status).append(unsent).append("::");
  // A channel that told nothing sent everything it answered for, or nothing.
  if (!told && !(channel.ran && channel.delivered)) {
    left = true;
    n.failed.push_back(channel.kind + " (" + channel.name + ") to " + NarrowedEntryText(lists) +
                       (channel.ran ? ": failed" : ": not tried"));
  }
  if (left)
    n.transient_left = true;
  else if (!kept)
    lists = Variant();
}

bool HoldsAny(const Variant& v) {
  if (!v.IsArray()) return !v.IsEmpty();
  return std::ranges::any_of(v.Items(), [](const Variant& item) { return HoldsAny(item); });
}

}  // namespace

Narrowing NarrowToFailed(Variant& email, Variant& pager, const TriedRequest& tried) {
  Narrowing n;
  for (int64_t i = 0; i < tried.groups; ++i) {
    const auto at = [i](const std::vector<ChannelTry>& channels, std::string_view kind) {
      return i < static_cast<int64_t>(channels.size()) ? channels[static_cast<size_t>(i)]
                                                       : ChannelTry{.kind = std::string(kind)};
    };
    if (tried.mail_enabled && email.IsArray() && i <= email.UBound())
      NarrowChannel(email.At(i), at(tried.mail, "mail"), "Mail Status: ", tried.mail_parts.parts(),
                    i, n);
    if (pager.IsArray() && i <= pager.UBound())
      NarrowChannel(pager.At(i), at(tried.page, "page"), "Page Status: ", tried.page_parts.parts(),
                    i, n);
  }
  return n;
}

std::string DropFailed(Variant& email, Variant& pager, const TriedRequest& tried) {
  std::string dropped;
  const auto drop = [&](Variant& lists, const DeliveryParts& parts, std::string_view status) {
    for (const DeliveredPart& part : parts.parts()) {
      if (part.state != PartState::kTransient || !lists.IsArray() || part.group > lists.UBound() ||
          part.group < lists.LBound())
        continue;
      Variant& group = lists.At(static_cast<int32_t>(part.group));
      Variant* entry = PartEntry(group, part);
      if (!entry || entry->IsEmpty()) continue;
      *entry = Variant();
      if (!HoldsAny(group)) group = Variant();  // the channel need not open for it
      dropped.append(status)
          .append("\r\n")
          .append(part.text.empty() ? "not tried" : part.text)
          .append("::");
    }
  };
  if (tried.mail_enabled) drop(email, tried.mail_parts, "Mail Status: ");
  drop(pager, tried.page_parts, "Page Status: ");
  return dropped;
}

}  // namespace qz
