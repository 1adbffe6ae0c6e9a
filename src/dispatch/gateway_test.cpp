// The gateway test of cNotify: one fixed message to one number through the
// paging channel the caller names, answered at once with what happened.
#include <string>

#include "diagnostics/error_reporter.h"
#include "diagnostics/last_error.h"
#include "dispatch/c_notify.h"
#include "gateways/delivery_channels.h"

namespace qz {
namespace {

constexpr std::string_view kTestMessage = "This is Alert Test Message";

}  // namespace

Variant cNotify::gvarTestGateway(int16_t Index, std::string_view Mobile) {
  try {
    const Variant notes = Variant::Array({Variant(kTestMessage)});
    const Variant pagers = Variant::Array({Variant::Array({Variant(Mobile)})});
    mstrSNPPStatus.clear();
    ChannelCall call = ChannelState();
    DeliveryChannels& channels = env_.channels;
    bool outcome = false;
    switch (Index) {
      case 0:
        outcome = channels.mblnPaging(call, notes, pagers);
        break;
      case 1:
        outcome = channels.mblnPagingIP(call, notes, pagers);
        break;
      case 2:
        if (!channels.mblnInitialiseSMS(call)) return Variant("Failed to initialize SMS Settings");
        outcome = channels.mblnPagingEx(call, notes, pagers);
        break;
      default:
        break;
    }
    if (gstrLastError.empty() && outcome)
      return Variant(mstrSNPPStatus.empty() ? std::string("Message Sent") : mstrSNPPStatus);
    if (!gstrLastError.empty()) return Variant(gstrLastError);
    if (!mstrSNPPStatus.empty()) return Variant(mstrSNPPStatus);
    return Variant("Test Failed");
  } catch (...) {
    const CaughtError error = CurrentError();
    return Variant("Test Failed. " + std::to_string(error.number) + " " + error.description);
  }
}

}  // namespace qz
