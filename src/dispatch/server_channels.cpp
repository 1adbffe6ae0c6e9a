#include "dispatch/server_channels.h"

#include "channels/mapi_mail_channel.h"
#include "channels/pager_terminal.h"
#include "channels/smtp_mail_channel.h"
#include "config/settings_interface.h"
#include "paging/sms_channel.h"
#include "paging/sms_loader.h"
#include "paging/snpp_channel.h"

namespace qz {

bool ServerChannels::mblnSendMail(const ChannelCall& call, const Variant& notes,
                                  const Variant& emails) {
  return qz::mblnSendMail(call, notes, emails);
}

bool ServerChannels::mblnSendSMTPMail(const ChannelCall& call, const Variant& notes,
                                      const Variant& emails) {
  return qz::mblnSendSMTPMail(call, notes, emails);
}

bool ServerChannels::mblnPaging(const ChannelCall& call, const Variant& notes,
                                const Variant& pagers) {
  return qz::mblnPaging(call.components, notes, pagers);
}

bool ServerChannels::mblnPagingIP(const ChannelCall& call, const Variant& notes,
                                  const Variant& pagers) {
  return qz::mblnPagingIP(call, notes, pagers);
}

bool ServerChannels::mblnPagingEx(const ChannelCall& call, const Variant& notes,
                                  const Variant& pagers) {
  return qz::mblnPagingEx(call, notes, pagers);
}

bool ServerChannels::mblnInitialiseSMS(const ChannelCall& call) {
  return qz::mblnInitialiseSMS(call);
}

Variant ServerChannels::mvarGetDefaultGateway(const ChannelCall& call) {
  return qz::mvarGetDefaultGateway(call.folder);
}

}  // namespace qz
