// The channels a running server uses: each forwards to the channel
// procedure of its gateway. Stateless (what a channel keeps lives in the
// object it runs for); one instance may serve every apartment.
#pragma once

#include "gateways/delivery_channels.h"

namespace qz {

class ServerChannels final : public DeliveryChannels {
 public:
  bool mblnSendMail(const ChannelCall& call, const Variant& notes, const Variant& emails) override;
  bool mblnSendSMTPMail(const ChannelCall& call, const Variant& notes,
                        const Variant& emails) override;
  bool mblnPaging(const ChannelCall& call, const Variant& notes, const Variant& pagers) override;
  bool mblnPagingIP(const ChannelCall& call, const Variant& notes, const Variant& pagers) override;
  bool mblnPagingEx(const ChannelCall& call, const Variant& notes, const Variant& pagers) override;
  bool mblnInitialiseSMS(const ChannelCall& call) override;
  Variant mvarGetDefaultGateway(const ChannelCall& call) override;
};

}  // namespace qz
