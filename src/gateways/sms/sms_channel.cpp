#include "gateways/sms/sms_channel.h"

#include <array>
#include <memory>
#include <string>

#include "automation/component_registry.h"
#include "automation/counter16.h"
#include "diagnostics/error_reporter.h"
#include "diagnostics/error_sources.h"
#include "diagnostics/last_error.h"
#include "gateways/clean_message.h"
#include "gateways/sms/sms_encoding.h"
#include "gateways/sms/sms_gateway_request.h"
#include "gateways/sms/sms_request_text.h"

namespace qz {
namespace {

void Configure(DispatchObject& gateway, const SmsSettings& s) {
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
  bool delivered = false;
  std::shared_ptr<DispatchObject> gateway;
  try {
    gstrLastError.clear();
    if (!lvarNotes.IsEmpty() && lvarNotes.IsArray() && !lvarPager.IsEmpty() &&
        lvarPager.IsArray()) {
      const SmsSettings& s = call.sms;
      gateway = call.components.Create(kSmsGatewayClassId);
      Configure(*gateway, s);
      const SmsEncoding encoding = SmsEncodingSetting(call.folder);
      // The same two one-element arrays go with every request; only the
      // request text in the second changes.
      std::array<Variant, 2> args{Variant::Array({Variant()}), Variant::Array({Variant()})};
      for (int32_t k = 0, last = Int16LoopLimit(lvarNotes.UBound()); k <= last; Step16(k)) {
        std::string text = lvarNotes.At(k).Text();
        msubCleanMessage(text, true);
        const SmsMessageField message = SmsMessageFieldOf(text, encoding);
        const Variant& numbers = lvarPager.At(k);
        if (numbers.IsEmpty() || !numbers.IsArray()) continue;
        for (int32_t j = 0, end = Int16LoopLimit(numbers.UBound()); j <= end; Step16(j)) {
          const Variant& number = numbers.At(j);
          if (number.IsEmpty()) continue;
          const std::string number_text = number.Text();
          args[1].At(0) = Variant(SmsRequestText(s, message, number_text, encoding));
          const Variant answer = gateway->CallMethod("SendRequest", args);
          const std::string answer_text = answer.Text();
          if (!SmsResponseOccurs(s.mstrResponse, answer_text)) {
            gstrLastError = "SMS to " + number_text + " is undelivered. " + answer_text;
          }
        }
      }
    }
    delivered = gstrLastError.empty();
  } catch (...) {
    gsubDisplayError(kServerSource, "mblnPagingEx");
  }
  gateway.reset();
  return delivered;
}

}  // namespace qz
