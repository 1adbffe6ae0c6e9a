// The built-in gateway table with channels that deliver everything at once,
// so a benchmark measures the dispatch machinery and nothing else.
#pragma once

#include "gateways/gateway_table.h"
#include "platform/seat.h"

namespace qz::bench {

struct InstantChannels final : GatewayTable {
  InstantChannels() : GatewayTable(BuiltInGateways()) {
    paging[0].channel = paging[1].channel = paging[2].channel = smtp.channel =
        profile.channel = [](const ChannelCall&, const Variant&, const Variant&) { return true; };
    paging[2].initialise = [](const ChannelCall&) { return true; };
    read_gateway = [](const ChannelCall&) { return Variant(int16_t{0}); };
  }
};

struct NobodyAtSeat final : SeatProbe {
  bool UserAtSeat() override { return false; }
};

}  // namespace qz::bench
