// The pager terminal channel: every message of one group goes, with all the
// pager identifiers listed for it, to one new "QzTerminal.cPager" component.
// Runs on the calling object's thread; SendPage blocks it until it returns.
#pragma once

#include "automation/component_registry.h"
#include "automation/variant.h"
#include "contract/contract.h"
#include "gateways/delivery_parts.h"

namespace qz {

// True when nothing failed (gstrLastError empty at the end). A failure is
// reported into gstrLastError and stops the group. Each message is one part
// for `parts`: a call carries all its identifiers.
bool mblnPaging(const ComponentRegistry& components, const Variant& lvarNotes,
                const Variant& lvarPager, DeliveryParts* parts = nullptr);

}  // namespace qz
