// Channels that deliver everything at once, so a benchmark measures the
// dispatch machinery and nothing else.
#pragma once

#include "gateways/delivery_channels.h"
#include "platform/seat.h"

namespace qz::bench {

class InstantChannels final : public DeliveryChannels {
 public:
  bool mblnSendMail(const ChannelCall&, const Variant&, const Variant&) override { return true; }
  bool mblnSendSMTPMail(const ChannelCall&, const Variant&, const Variant&) override {
    return true;
  }
  bool mblnPaging(const ChannelCall&, const Variant&, const Variant&) override { return true; }
  bool mblnPagingIP(const ChannelCall&, const Variant&, const Variant&) override { return true; }
  bool mblnPagingEx(const ChannelCall&, const Variant&, const Variant&) override { return true; }
  bool mblnInitialiseSMS(const ChannelCall&) override { return true; }
  Variant mvarGetDefaultGateway(const ChannelCall&) override { return Variant(int16_t{0}); }
};

class NobodyAtSeat final : public SeatProbe {
 public:
  bool UserAtSeat() override { return false; }
};

}  // namespace qz::bench
