// A DeliveryChannels that forwards every call unchanged to the channels the
// server runs and records, per group, which channel ran for which recipients
// and with what result (DispatchTrace). One per dispatch run, on the run's
// apartment thread.
#pragma once

#include "dispatch/dispatch_trace.h"
#include "gateways/delivery_channels.h"

namespace qz {

class TracingChannels final : public DeliveryChannels {
 public:
  TracingChannels(DeliveryChannels& channels, DispatchTrace& trace)
      : channels_(channels), trace_(trace) {}

  // The group the following calls run for.
  void BeginGroup(long group);
  // The group is done; `paged` is the page result the run keeps for it.
  // `pager_groups` holds every group's numbers.
  void EndGroup(const Variant& pager_groups, bool paged);

  bool mblnSendMail(const ChannelCall& call, const Variant& notes, const Variant& emails) override;
  bool mblnSendSMTPMail(const ChannelCall& call, const Variant& notes,
                        const Variant& emails) override;
  bool mblnPaging(const ChannelCall& call, const Variant& notes, const Variant& pagers) override;
  bool mblnPagingIP(const ChannelCall& call, const Variant& notes, const Variant& pagers) override;
  bool mblnPagingEx(const ChannelCall& call, const Variant& notes, const Variant& pagers) override;
  bool mblnInitialiseSMS(const ChannelCall& call) override;
  Variant mvarGetDefaultGateway(const ChannelCall& call) override;

 private:
  bool Record(const std::string& channel, const Variant* recipients, bool delivered);

  DeliveryChannels& channels_;
  DispatchTrace& trace_;
  long group_ = 0;
  bool paging_ran_ = false;
};

// The addresses or numbers of one group, flattened ("a@x, b@y"); at most a
// few dozen are named, the rest counted.
std::string RecipientsText(const Variant& recipients);

}  // namespace qz
