#include "gateways/mail/smtp_mail_channel.h"

#include <memory>
#include <string>

#include "automation/component_registry.h"
#include "gateways/channel_frame.h"
#include "gateways/mail/smtp_mail.h"
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
  std::shared_ptr<DispatchObject> mail;  // let go only after a failure is reported
  return RunChannel(
      {.procedure = "mblnSendSMTPMail",
       .paging = false,
       .delivery = Delivery::kPerRecipient,
       .refusals = Refusals::kEachAfterCrLf,
       .deliver = [&](const std::string& text, const Variant& entry) -> Refusal {
         mail = call.components.Create(kSmtpMailProgId);
         mail->SetProperty("ServerName", Variant(TrimSpaces(call.mstrSMTPServer)));
         mail->SetProperty("MailFrom", Variant(TrimSpaces(call.mstrMailFrom)));
         // Trimming Null gives Null, which the property refuses.
         mail->SetProperty("MailTo",
                           entry.IsNull() ? Variant::Null() : Variant(TrimSpaces(entry.Text())));
         mail->SetProperty("Subject",
                           Variant(text.substr(0, Utf8PrefixBytes(text, kSmtpSubjectLimit))));
         mail->SetProperty("Message", Variant(text));
         std::string reply = ReplyText(mail->CallMethod("gvarSendMessage", {}));
         const auto* ours = dynamic_cast<const SmtpMail*>(mail.get());
         const FailureKind kind = ours ? ours->LastFailureKind() : FailureKind::kTransient;
         mail.reset();
         if (Accepted(reply)) return std::nullopt;
         return Failure{.text = std::move(reply), .kind = kind};
       },
       .parts = call.parts,
       .gate = call.gate},
      lvarNotes, lvarEmail);
}

}  // namespace qz
