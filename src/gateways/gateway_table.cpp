#include "gateways/gateway_table.h"

#include "config/settings_interface.h"
#include "gateways/mail/mapi_mail_channel.h"
#include "gateways/mail/smtp_mail.h"
#include "gateways/mail/smtp_mail_channel.h"
#include "gateways/sms/sms_channel.h"
#include "gateways/sms/sms_gateway_request.h"
#include "gateways/sms/sms_loader.h"
#include "gateways/snpp/snpp_channel.h"
#include "gateways/terminal/pager_terminal.h"
#include "gateways/terminal/terminal_pager.h"

namespace qz {

const PagingGateway* GatewayTable::Find(double number) const {
  for (const PagingGateway& gateway : paging) {
    if (gateway.number == number) return &gateway;
  }
  return nullptr;
}

void GatewayTable::RegisterComponents(ComponentRegistry& registry, std::string_view folder) const {
  for (const PagingGateway& gateway : paging) {
    if (gateway.components) gateway.components(registry, folder);
  }
  for (const MailRoute* route : {&smtp, &profile}) {
    if (route->components) route->components(registry, folder);
  }
}

GatewayTable BuiltInGateways() {
  GatewayTable table;
  table.paging.push_back(
      {.number = 0,
       .name = "pager terminal",
       .description = "the pager terminal",
       .channel =
           [](const ChannelCall& call, const Variant& notes, const Variant& pagers) {
             return mblnPaging(call.components, notes, pagers, call.parts);
           },
       .components =
           [](ComponentRegistry& registry, std::string_view folder) {
             RegisterTerminalPager(registry, std::string(folder));
           }});
  table.paging.push_back({.number = 1,
                          .name = "SNPP",
                          .description = "the SNPP server",
                          .channel = mblnPagingIP,
                          .test_answers_reply = true});
  table.paging.push_back({.number = 2,
                          .name = "SMS",
                          .description = "the SMS gateway",
                          .initialise = mblnInitialiseSMS,
                          .channel = mblnPagingEx,
                          .components = [](ComponentRegistry& registry, std::string_view) {
                            RegisterSmsGatewayRequest(registry);
                          }});
  table.smtp = {.name = "SMTP",
                .channel = mblnSendSMTPMail,
                .components = [](ComponentRegistry& registry, std::string_view) {
                  RegisterSmtpMail(registry);
                }};
  table.profile = {.name = "profile", .channel = mblnSendMail};
  table.read_gateway = [](const ChannelCall& call) { return mvarGetDefaultGateway(call.folder); };
  return table;
}

}  // namespace qz
