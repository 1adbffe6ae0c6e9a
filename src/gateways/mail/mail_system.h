// The mail system behind the profile route, as two controls with the
// members the channel uses: a session (sign on by profile name without a
// dialog, sign off) and a message buffer (compose, subject, body, indexed
// To/Cc recipients with display name and address, silent resolution, send).
// A profile is a key of the registry store (mail_profile.h); Send hands the
// mail to the profile's SMTP server or to the local sendmail. Failures raise
// RunTimeError with the numbers below. Owned by one host form; one thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "gateways/mail/mail_profile.h"

namespace qz {

class RegistryStore;

enum MailError : int32_t {
  kMailErrFailure = 32002,           // the mail was not accepted
  kMailErrLoginFailed = 32003,       // no such profile, or it can't be read
  kMailErrUnknownRecipient = 32014,  // not a bare local-part@domain address
  kMailErrInvalidSession = 32019,    // no session signed on
};

enum MailRecipientType : int16_t { kMailOriginator = 0, kMailTo = 1, kMailCc = 2, kMailBcc = 3 };

// What a signed-on session is; shared by the session and the messages
// control it was handed to, closed by SignOff.
struct MailSessionState {
  MailProfile profile;
  bool open = true;
};
using MailSessionId = std::shared_ptr<MailSessionState>;

class MailSession {
 public:
  explicit MailSession(RegistryStore* store = nullptr) : store_(store) {}

  bool LogonUI = true;
  bool DownloadMail = true;
  bool NewSession = false;
  std::string UserName;  // the profile name

  // Reads the profile UserName names; raises kMailErrLoginFailed when there
  // is none (no dialog is ever offered) or it names no usable transport.
  void SignOn();
  void SignOff();
  const MailSessionId& SessionID() const { return session_; }

 private:
  RegistryStore* store_;
  MailSessionId session_;
};

class MailMessages {
 public:
  MailSessionId SessionID;
  std::string MsgSubject;
  std::string MsgNoteText;
  bool AddressResolveUI = true;

  // Starts a new, empty message: no subject, body or recipients.
  void Compose();
  // Selects (creating if needed) the recipient at this index; indices may
  // leave gaps, which hold no recipient.
  void RecipIndex(int32_t index);
  void RecipType(int16_t type);
  void RecipDisplayName(std::string_view name);
  void RecipAddress(std::string_view address);
  // Checks the selected recipient silently: its address must be an RFC 5322
  // bare address and its display name a single line.
  void ResolveName();
  // One mail to every To and Cc recipient, in index order, through the
  // session's transport; raises kMailErrFailure with the reason if refused.
  void Send();

 private:
  struct Recipient {
    int16_t type = kMailTo;
    std::string display_name;
    std::string address;
    bool resolved = false;
  };
  Recipient& Current();

  std::map<int32_t, Recipient> recipients_;
  int32_t index_ = 0;
};

// The mail controls a request's host form carries: the session and the
// message composer that the profile route signs on and sends with.
struct MailControls {
  explicit MailControls(RegistryStore* registry) : MAPISession1(registry) {}

  MailSession MAPISession1;
  MailMessages MAPIMessages1;
};

}  // namespace qz
