#include "gateways/terminal/pager_terminal.h"

#include <string>
#include <vector>

#include "automation/counter16.h"
#include "diagnostics/error_reporter.h"
#include "diagnostics/error_sources.h"
#include "diagnostics/last_error.h"
#include "gateways/clean_message.h"
#include "platform/trim.h"

namespace qz {
namespace {

// The identifier list of one message: its non-Empty entries, trimmed. A Null
// entry stays Null, as trimming Null yields Null.
std::vector<Variant> IdentifierList(const Variant& list) {
  std::vector<Variant> ids;
  if (list.IsEmpty() || !list.IsArray()) return ids;
  int32_t n = 0;
  for (int32_t j = 0, last = Int16LoopLimit(list.UBound()); j <= last; Step16(j)) {
    const Variant& entry = list.At(j);
    if (entry.IsEmpty()) continue;
    ids.push_back(entry.IsNull() ? Variant::Null() : Variant(TrimSpaces(entry.Text())));
    Step16(n);
  }
  return ids;
}

}  // namespace

bool mblnPaging(const ComponentRegistry& components, const Variant& lvarNotes,
                const Variant& lvarPager) {
  bool delivered = false;
  std::shared_ptr<DispatchObject> pager;
  try {
    gstrLastError.clear();
    if (!lvarNotes.IsEmpty() && lvarNotes.IsArray() && !lvarPager.IsEmpty() &&
        lvarPager.IsArray()) {
      for (int32_t k = 0, last = Int16LoopLimit(lvarNotes.UBound()); k <= last; Step16(k)) {
        std::string text = lvarNotes.At(k).Text();
        msubCleanMessage(text, true);
        std::vector<Variant> ids = IdentifierList(lvarPager.At(k));
        if (ids.empty()) continue;
        pager = components.Create(kPagerTerminalProgId);
        pager->SetProperty("PagerID", Variant::Array(std::move(ids)));
        pager->SetProperty("Message", Variant(std::move(text)));
        pager->SetProperty("Timeout", Variant(int16_t{60}));
        pager->CallMethod("SendPage", {});  // its answer says nothing we rely on
        pager.reset();
      }
    }
    delivered = gstrLastError.empty();
  } catch (...) {
    gsubDisplayError(kServerSource, "mblnPaging");
  }
  pager.reset();
  return delivered;
}

}  // namespace qz
