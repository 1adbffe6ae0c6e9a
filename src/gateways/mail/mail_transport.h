// Takes one composed mail out by a profile's transport: its SMTP server
// (smtp:// or smtps:// URL) or the local sendmail. Blocks the calling thread
// within the transports' time limits. Safe from any thread.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "gateways/mail/mail_profile.h"

namespace qz {

struct MailHandOff {
  bool accepted = false;
  std::string reply;  // why not, when not accepted
};

MailHandOff DeliverMail(const MailProfile& profile, std::string_view envelope_from,
                        std::span<const std::string> recipients, std::string_view data);

}  // namespace qz
