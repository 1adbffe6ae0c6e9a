#include "dispatch/server_channels.h"

#include <string>

#include "automation/run_time_error.h"
#include "channels/mapi_mail_channel.h"
#include "channels/pager_terminal.h"
#include "channels/smtp_mail_channel.h"
#include "config/settings_interface.h"
#include "diagnostics/error_reporter.h"
#include "diagnostics/last_error.h"

namespace qz {
namespace {

// A channel whose gateway is not built yet fails the way any channel fails:
// the error is reported into gstrLastError and the answer is false.
bool NotBuilt(std::string_view feature, std::string_view procedure) {
  gstrLastError.clear();
  try {
    throw RunTimeError(kErrNoSuchAction, std::string(feature) + " is not built yet", "QzNotes.cServer");
  } catch (...) {
    gsubDisplayError("QzNotes.cServer", procedure);
  }
  return false;
}

}  // namespace

bool ServerChannels::mblnSendMail(const ChannelCall& call, const Variant& notes, const Variant& emails) {
  return qz::mblnSendMail(call, notes, emails);
}

bool ServerChannels::mblnSendSMTPMail(const ChannelCall& call, const Variant& notes, const Variant& emails) {
  return qz::mblnSendSMTPMail(call, notes, emails);
}

bool ServerChannels::mblnPaging(const ChannelCall& call, const Variant& notes, const Variant& pagers) {
  return qz::mblnPaging(call.components, notes, pagers);
}

bool ServerChannels::mblnPagingIP(const ChannelCall&, const Variant&, const Variant&) {
  return NotBuilt("SNPP paging", "mblnPagingIP");
}

bool ServerChannels::mblnPagingEx(const ChannelCall&, const Variant&, const Variant&) {
  return NotBuilt("SMS gateway paging", "mblnPagingEx");
}

bool ServerChannels::mblnInitialiseSMS(const ChannelCall&) {
  return NotBuilt("The SMS gateway settings", "mblnInitialiseSMS");
}

Variant ServerChannels::mvarGetDefaultGateway(const ChannelCall& call) {
  return qz::mvarGetDefaultGateway(call.folder);
}

}  // namespace qz
