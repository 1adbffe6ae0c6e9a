// cEmail: one mail session of the profile route, on the mail controls of a
// request's host form. gblnOpenSession signs on without a dialog,
// gblnSendMail composes and sends one message to a recipient list (entry 0
// To, later entries Cc at their own index); destruction signs off. Both
// trap their errors and answer false. Used on the form's thread only.
#pragma once

#include <string_view>

#include "automation/variant.h"
#include "gateways/mail/mail_system.h"

namespace qz {

class cEmail {
 public:
  cEmail() = default;
  ~cEmail();  // signs off, ignoring any failure
  cEmail(const cEmail&) = delete;
  cEmail& operator=(const cEmail&) = delete;

  bool gblnSendMail(std::string_view lstrSubject, std::string_view lstrMessage,
                    const Variant& lvarMailUsers);
  bool gblnOpenSession(MailControls* MAPIForm, std::string_view lstrProfile);

 private:
  // Display name and address of one entry by the "$" rule, then resolved.
  void SetRecipient(std::string_view entry);

  bool mblnSessionOpen = false;
  MailSession* mobjSession = nullptr;
  MailMessages* mobjMessages = nullptr;
};

}  // namespace qz
