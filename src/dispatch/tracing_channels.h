// Runs the gateway table's channels for one dispatch run, unchanged, and
// records per group which channel ran for which recipients and with what
// result (DispatchTrace). One per dispatch run, on the run's apartment
// thread.
#pragma once

#include "dispatch/dispatch_trace.h"
#include "gateways/gateway_table.h"

namespace qz {

class TracingChannels {
 public:
  TracingChannels(const GatewayTable& gateways, DispatchTrace& trace)
      : gateways_(gateways), trace_(trace) {}

  // The group the following calls run for.
  void BeginGroup(long group);
  // The group is done; `paged` is the page result the run keeps for it.
  // `pager_groups` holds every group's numbers.
  void EndGroup(const Variant& pager_groups, bool paged);

  bool Mail(const MailRoute& route, const ChannelCall& call, const Variant& notes,
            const Variant& emails);
  // The table's gateway number, read afresh.
  Variant ReadGateway(const ChannelCall& call);
  // True when `gateway` has no initialisation step or it succeeded.
  bool Initialise(const PagingGateway& gateway, const ChannelCall& call);
  bool Page(const PagingGateway& gateway, const ChannelCall& call, const Variant& notes,
            const Variant& pagers);

 private:
  bool Record(const std::string& channel, const Variant* recipients, bool delivered);
  std::string GatewayName(const Variant& number) const;

  const GatewayTable& gateways_;
  DispatchTrace& trace_;
  long group_ = 0;
  bool paging_ran_ = false;
};

// The addresses or numbers of one group, flattened ("a@x, b@y"); at most a
// few dozen are named, the rest counted.
std::string RecipientsText(const Variant& recipients);

}  // namespace qz
