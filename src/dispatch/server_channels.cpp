#include "dispatch/server_channels.h"

#include "config/settings_interface.h"
#include "gateways/mail/mapi_mail_channel.h"
#include "gateways/mail/smtp_mail_channel.h"
#include "gateways/sms/sms_channel.h"
#include "gateways/sms/sms_loader.h"
#include "gateways/snpp/snpp_channel.h"
#include "gateways/terminal/pager_terminal.h"

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
