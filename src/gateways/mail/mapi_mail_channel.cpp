#include "gateways/mail/mapi_mail_channel.h"

#include <memory>
#include <string>

#include "diagnostics/last_error.h"
#include "gateways/channel_frame.h"
#include "gateways/mail/c_email.h"

namespace qz {

bool mblnSendMail(const ChannelCall& call, const Variant& lvarNotes, const Variant& lvarEmail) {
  std::string subject;
  std::unique_ptr<cEmail> email;  // signs off when it goes, after a failure is reported
  return RunChannel({.procedure = "mblnSendMail",
                     .paging = false,
                     .delivery = Delivery::kPerMessage,
                     .open =
                         [&] {
                           subject = call.mstrSubject;
                           email = std::make_unique<cEmail>();
                           return email->gblnOpenSession(call.mfrmNotes, call.mstrProfile)
                                      ? Opening::kSend
                                      : Opening::kSendNothing;
                         },
                     // A failure inside cEmail reaches the caller through
                     // gstrLastError, where cEmail has put it already.
                     .deliver = [&](const std::string& text, const Variant& list) -> Refusal {
                       if (email->gblnSendMail(subject, text, list)) return std::nullopt;
                       return Failure{.text = gstrLastError, .noted = false};
                     },
                     .parts = call.parts},
                    lvarNotes, lvarEmail);
}

}  // namespace qz
