#include "gateways/mail/mail_system.h"

#include <glib.h>

#include <stdexcept>
#include <vector>

#include "automation/run_time_error.h"
#include "gateways/mail/mail_message.h"
#include "gateways/mail/mail_transport.h"
#include "platform/registry_store.h"

namespace qz {
namespace {

constexpr const char* kMailSystemSource = "QzNotes.MailSystem";

[[noreturn]] void RaiseMailSystem(int32_t number, std::string description) {
  throw RunTimeError(number, std::move(description), kMailSystemSource);
}

// A profile without a From sends as the server's own user on this host.
std::string DefaultSender() { return std::string(g_get_user_name()) + "@" + g_get_host_name(); }

}  // namespace

void MailSession::SignOn() {
  if (!store_)
    RaiseMailSystem(kMailErrLoginFailed, "Login has failed: no registry store holds mail profiles");
  if (UserName.empty())
    RaiseMailSystem(kMailErrLoginFailed, "Login has failed: no mail profile was named");
  MailProfile profile;
  int32_t status = ReadMailProfile(*store_, UserName, profile);
  if (status == kRegNotFound)
    RaiseMailSystem(kMailErrLoginFailed,
                    "Login has failed: there is no mail profile named '" + UserName + "'");
  if (status != kRegOk)
    RaiseMailSystem(kMailErrLoginFailed,
                    "Login has failed: mail profile '" + UserName +
                        "' cannot be read: " + std::string(RegStatusText(status)));
  if (std::string problem = TransportProblem(profile.transport); !problem.empty())
    RaiseMailSystem(kMailErrLoginFailed,
                    "Login has failed: mail profile '" + UserName + "': " + problem);
  if (profile.from.empty()) profile.from = DefaultSender();
  session_ = std::make_shared<MailSessionState>(MailSessionState{std::move(profile)});
}

void MailSession::SignOff() {
  if (session_) session_->open = false;
  session_.reset();
}

void MailMessages::Compose() {
  MsgSubject.clear();
  MsgNoteText.clear();
  recipients_.clear();
  index_ = 0;
}

MailMessages::Recipient& MailMessages::Current() { return recipients_[index_]; }

void MailMessages::RecipIndex(int32_t index) {
  if (index < 0) throw RunTimeError(kErrInvalidCall, kMailSystemSource);
  index_ = index;
  Current();
}

void MailMessages::RecipType(int16_t type) {
  if (type < kMailOriginator || type > kMailBcc)
    throw RunTimeError(kErrInvalidCall, kMailSystemSource);
  Current().type = type;
}

void MailMessages::RecipDisplayName(std::string_view name) {
  Current().display_name = name;
  Current().resolved = false;
}

void MailMessages::RecipAddress(std::string_view address) {
  Current().address = address;
  Current().resolved = false;
}

void MailMessages::ResolveName() {
  Recipient& r = Current();
  if (!IsAddrSpec(r.address))
    RaiseMailSystem(kMailErrUnknownRecipient,
                    "Unknown recipient: '" + r.address + "' is no e-mail address");
  if (r.display_name.find_first_of("\r\n") != std::string::npos)
    RaiseMailSystem(kMailErrUnknownRecipient,
                    "Unknown recipient: the display name of " + r.address + " holds a line break");
  r.resolved = true;
}

void MailMessages::Send() {
  if (!SessionID || !SessionID->open)
    RaiseMailSystem(kMailErrInvalidSession, "Invalid session: not signed on");
  const MailProfile& profile = SessionID->profile;
  MailMessage mail;
  mail.from.address = profile.from;
  mail.subject = MsgSubject;
  mail.body = MsgNoteText;
  std::vector<std::string> envelope;
  int32_t kept_index = index_;
  for (auto& [index, r] : recipients_) {
    if (r.address.empty() || (r.type != kMailTo && r.type != kMailCc)) continue;
    if (!r.resolved) {
      index_ = index;  // resolve as the caller would have
      ResolveName();
    }
    (r.type == kMailTo ? mail.to : mail.cc).push_back({r.display_name, r.address});
    envelope.push_back(r.address);
  }
  index_ = kept_index;
  if (mail.to.empty() && mail.cc.empty())
    RaiseMailSystem(kMailErrFailure, "The mail has no recipient");
  std::string data;
  try {
    data = ComposeMail(mail);
  } catch (const std::invalid_argument& bad) {
    RaiseMailSystem(kMailErrFailure, std::string("The mail cannot be composed: ") + bad.what());
  }
  MailHandOff handed = DeliverMail(profile, profile.from, envelope, data);
  if (!handed.accepted) RaiseMailSystem(kMailErrFailure, "The mail was not sent: " + handed.reply);
}

}  // namespace qz
