#include "gateways/mail/mapi_mail_channel.h"

#include <memory>
#include <string>

#include "automation/counter16.h"
#include "diagnostics/error_reporter.h"
#include "diagnostics/error_sources.h"
#include "diagnostics/last_error.h"
#include "gateways/clean_message.h"
#include "gateways/mail/c_email.h"

namespace qz {

bool mblnSendMail(const ChannelCall& call, const Variant& lvarNotes, const Variant& lvarEmail) {
  bool sent = false;
  std::unique_ptr<cEmail> email;
  try {
    gstrLastError.clear();
    const std::string subject(call.mstrSubject);
    if (!lvarNotes.IsEmpty() && lvarNotes.IsArray() && !lvarEmail.IsEmpty() &&
        lvarEmail.IsArray()) {
      email = std::make_unique<cEmail>();
      if (email->gblnOpenSession(call.mfrmNotes, call.mstrProfile)) {
        for (int32_t k = 0, last = Int16LoopLimit(lvarNotes.UBound()); k <= last; Step16(k)) {
          std::string text = lvarNotes.At(k).Text();
          msubCleanMessage(text, false);
          const Variant& list = lvarEmail.At(k);
          // A failure inside reaches us only through gstrLastError.
          if (!list.IsEmpty() && list.IsArray()) email->gblnSendMail(subject, text, list);
        }
      }
    }
    sent = gstrLastError.empty();
  } catch (...) {
    gsubDisplayError(kServerSource, "mblnSendMail");
    sent = false;
  }
  email.reset();  // signs off
  return sent;
}

}  // namespace qz
