// The SNPP channel: every message of one group goes to every pager
// identifier listed for it, over one connection to the gateway named in
// QzSNPP.ini, and the status the server left behind is kept for the gateway
// test. Runs on the calling object's thread and blocks it for the exchange.
#pragma once

#include "automation/variant.h"
#include "config/settings_groups.h"  // kSnppSettingsFile, the file it reads
#include "gateways/delivery_channels.h"

namespace qz {

inline constexpr std::string_view kSnppSection = "SNPP Paging Service";

// True when nothing failed (gstrLastError empty at the end); a page the
// server did not confirm is no failure.
bool mblnPagingIP(const ChannelCall& call, const Variant& lvarNotes, const Variant& lvarPager);

}  // namespace qz
