#include "gateways/terminal/pager_terminal.h"

#include <string>
#include <vector>

#include "automation/counter16.h"
#include "gateways/channel_frame.h"
#include "gateways/terminal/terminal_pager.h"
#include "platform/trim.h"

namespace qz {
namespace {

// The identifier list of one message: its non-Empty entries, trimmed. A Null
// entry stays Null, as trimming Null yields Null. `positions` gets where
// each came from in `list`.
std::vector<Variant> IdentifierList(const Variant& list, std::vector<int32_t>& positions) {
  std::vector<Variant> ids;
  positions.clear();
  int32_t n = 0;
  for (int32_t j = 0, last = Int16LoopLimit(list.UBound()); j <= last; Step16(j)) {
    const Variant& entry = list.At(j);
    if (entry.IsEmpty()) continue;
    ids.push_back(entry.IsNull() ? Variant::Null() : Variant(TrimSpaces(entry.Text())));
    positions.push_back(j);
    Step16(n);
  }
  return ids;
}

}  // namespace

bool mblnPaging(const ComponentRegistry& components, const Variant& lvarNotes,
                const Variant& lvarPager, DeliveryParts* parts) {
  std::shared_ptr<DispatchObject> pager;  // let go only after a failure is reported
  std::vector<int32_t> positions;         // of the identifiers in the message's list
  return RunChannel({.procedure = "mblnPaging",
                     .paging = true,
                     .delivery = Delivery::kPerMessage,
                     .deliver = [&](const std::string& text, const Variant& list) -> Refusal {
                       std::vector<Variant> ids = IdentifierList(list, positions);
                       if (ids.empty()) return std::nullopt;
                       pager = components.Create(kPagerTerminalProgId);
                       pager->SetProperty("PagerID", Variant::Array(std::move(ids)));
                       pager->SetProperty("Message", Variant(text));
                       pager->SetProperty("Timeout", Variant(int16_t{60}));
                       pager->CallMethod("SendPage", {});  // its answer says nothing we rely on
                       pager.reset();
                       return std::nullopt;
                     },
                     // The terminal raises every failure; the component still holds its kind.
                     .error_kind =
                         [&] {
                           const auto* ours = dynamic_cast<const TerminalPager*>(pager.get());
                           return ours ? ours->LastFailureKind() : FailureKind::kTransient;
                         },
                     // A call carries all identifiers of a message; those the terminal
                     // took must not be paged again by a retry.
                     .error_went =
                         [&] {
                           std::vector<int32_t> went;
                           if (const auto* ours = dynamic_cast<const TerminalPager*>(pager.get()))
                             for (int32_t at : ours->AcceptedEntries())
                               if (at >= 0 && static_cast<size_t>(at) < positions.size())
                                 went.push_back(positions[static_cast<size_t>(at)]);
                           return went;
                         },
                     .parts = parts},
                    lvarNotes, lvarPager);
}

}  // namespace qz
