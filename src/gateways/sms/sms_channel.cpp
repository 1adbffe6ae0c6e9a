#include "gateways/sms/sms_channel.h"

#include <array>
#include <memory>
#include <string>

#include "automation/component_registry.h"
#include "gateways/channel_frame.h"
#include "gateways/sms/http_failure.h"
#include "gateways/sms/sms_encoding.h"
#include "gateways/sms/sms_gateway_request.h"
#include "gateways/sms/sms_request_text.h"

namespace qz {
namespace {

void ConfigureSmsGateway(DispatchObject& gateway, const SmsSettings& s) {
  gateway.SetProperty("Protocol", Variant(s.mstrProtocol));
  gateway.SetProperty("IPAddress", Variant(s.mstrIPAddress));
  gateway.SetProperty("Connect", Variant(s.mstrConnect));
  // Raises 13 for a text that is no number, 6 past 16 bits: before any request.
  gateway.SetProperty("Access", Variant(Variant(s.mstrAccess).ToInt16()));
  gateway.SetProperty("Method", Variant(s.mstrMethod));
  gateway.SetProperty("Header", Variant(s.mstrHeader));
  gateway.SetProperty("Accept", Variant(s.mstrAccept));
}

}  // namespace

bool mblnPagingEx(const ChannelCall& call, const Variant& lvarNotes, const Variant& lvarPager) {
  std::shared_ptr<DispatchObject> gateway;  // let go only after a failure is reported
  const SmsSettings* settings = nullptr;
  SmsEncoding encoding = SmsEncoding::Seed;
  // The same two one-element arrays go with every request; only the request
  // text in the second changes.
  std::array<Variant, 2> args{Variant::Array({Variant()}), Variant::Array({Variant()})};
  return RunChannel(
      {.procedure = "mblnPagingEx",
       .paging = true,
       .delivery = Delivery::kPerRecipient,
       .refusals = Refusals::kLatestOnly,
       .open =
           [&] {
             settings = &call.kept.Get<SmsSettings>();
             gateway = call.components.Create(kSmsGatewayClassId);
             ConfigureSmsGateway(*gateway, *settings);
             encoding = SmsEncodingSetting(call.folder);
             return Opening::kSend;
           },
       .deliver = [&](const std::string& text, const Variant& number) -> Refusal {
         const std::string number_text = number.Text();
         args[1].At(0) = Variant(
             SmsRequestText(*settings, SmsMessageFieldOf(text, encoding), number_text, encoding));
         const std::string answer = gateway->CallMethod("SendRequest", args).Text();
         if (SmsResponseOccurs(settings->mstrResponse, answer)) return std::nullopt;
         Failure failure{.text = "SMS to " + number_text + " is undelivered. " + answer};
         if (const auto* ours = dynamic_cast<const SmsGatewayRequest*>(gateway.get())) {
           failure.kind = HttpStatusKind(ours->LastStatus());
           failure.retry_after = ours->LastRetryAfter();
         }
         return failure;
       },
       .parts = call.parts,
       .gate = call.gate},
      lvarNotes, lvarPager);
}

}  // namespace qz
