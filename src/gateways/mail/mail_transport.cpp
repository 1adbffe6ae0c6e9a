#include "gateways/mail/mail_transport.h"

#include "gateways/mail/sendmail_process.h"
#include "gateways/mail/smtp_transport.h"

namespace qz {

MailHandOff DeliverMail(const MailProfile& profile, std::string_view envelope_from,
                        std::span<const std::string> recipients, std::string_view data) {
  if (profile.transport == kSendmailTransport) {
    SendmailOutcome outcome = RunSendmail(data);
    return {outcome.accepted, outcome.reply};
  }
  SmtpOutcome outcome = SendSmtp(profile.transport, envelope_from, recipients, data);
  return {outcome.accepted, outcome.reply};
}

}  // namespace qz
