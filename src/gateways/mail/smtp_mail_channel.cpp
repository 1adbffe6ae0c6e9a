#include "gateways/mail/smtp_mail_channel.h"

#include <memory>
#include <string>

#include "automation/component_registry.h"
#include "automation/counter16.h"
#include "diagnostics/error_reporter.h"
#include "diagnostics/error_sources.h"
#include "diagnostics/last_error.h"
#include "gateways/clean_message.h"
#include "platform/trim.h"
#include "platform/utf8.h"

namespace qz {
namespace {

bool Accepted(std::string_view reply) {
  std::string lower(reply);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower.find(kSmtpSuccessPhrase) != std::string::npos;
}

// The reply as text, NUL characters turned into blanks.
std::string ReplyText(const Variant& result) {
  std::string reply = result.Text();
  for (char& c : reply)
    if (c == '\0') c = ' ';
  return reply;
}

}  // namespace

bool mblnSendSMTPMail(const ChannelCall& call, const Variant& lvarNotes, const Variant& lvarEmail) {
  bool delivered = false;
  std::shared_ptr<DispatchObject> mail;
  try {
    gstrLastError.clear();
    if (!lvarNotes.IsEmpty() && lvarNotes.IsArray() && !lvarEmail.IsEmpty() &&
        lvarEmail.IsArray()) {
      for (int32_t k = 0, last = Int16LoopLimit(lvarNotes.UBound()); k <= last; Step16(k)) {
        std::string text = lvarNotes.At(k).Text();
        msubCleanMessage(text, false);
        const Variant& list = lvarEmail.At(k);
        if (list.IsEmpty() || !list.IsArray()) continue;
        for (int32_t j = 0, end = Int16LoopLimit(list.UBound()); j <= end; Step16(j)) {
          const Variant& entry = list.At(j);
          if (entry.IsEmpty()) continue;
          mail = call.components.Create(kSmtpMailProgId);
          mail->SetProperty("ServerName", Variant(TrimSpaces(call.mstrSMTPServer)));
          mail->SetProperty("MailFrom", Variant(TrimSpaces(call.mstrMailFrom)));
          // Trimming Null gives Null, which the property refuses.
          mail->SetProperty("MailTo",
                            entry.IsNull() ? Variant::Null() : Variant(TrimSpaces(entry.Text())));
          mail->SetProperty("Subject",
                            Variant(text.substr(0, Utf8PrefixBytes(text, kSmtpSubjectLimit))));
          mail->SetProperty("Message", Variant(text));
          const std::string reply = ReplyText(mail->CallMethod("gvarSendMessage", {}));
          if (!Accepted(reply)) gstrLastError += "\r\n" + reply;
          mail.reset();
        }
      }
    }
    delivered = gstrLastError.empty();
  } catch (...) {
    gsubDisplayError(kServerSource, "mblnSendSMTPMail");
  }
  mail.reset();
  return delivered;
}

}  // namespace qz
