// The gateway test of cNotify: one fixed message to one number through the
// paging channel the caller names, answered at once with what happened.
#include <string>

#include "diagnostics/error_reporter.h"
#include "diagnostics/last_error.h"
#include "dispatch/c_notify.h"
#include "gateways/gateway_table.h"

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
    bool outcome = false;
    if (const PagingGateway* gateway = env_.gateways.Find(Index)) {
      if (gateway->initialise && !gateway->initialise(call))
        return Variant("Failed to initialize " + gateway->name + " Settings");
      outcome = gateway->channel(call, notes, pagers);
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
