// The built-in gateway table with channels that deliver everything at once,
// so a benchmark measures the dispatch machinery and nothing else.
#pragma once

#include "gateways/gateway_table.h"
#include "platform/seat.h"

namespace qz::bench {

class InstantChannels final : public GatewayTable {
 public:
  InstantChannels() : GatewayTable(BuiltInGateways()) {
    for (PagingGateway& gateway : paging) {
      gateway.channel = Delivered;
      if (gateway.initialise) gateway.initialise = [](const ChannelCall&) { return true; };
    }
    smtp.channel = profile.channel = Delivered;
    read_gateway = [](const ChannelCall&) { return Variant(int16_t{0}); };
  }

 private:
  static bool Delivered(const ChannelCall&, const Variant&, const Variant&) { return true; }
};

class NobodyAtSeat final : public SeatProbe {
 public:
  bool UserAtSeat() override { return false; }
};

}  // namespace qz::bench
