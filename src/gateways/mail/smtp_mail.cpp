#include "gateways/mail/smtp_mail.h"

#include <stdexcept>
#include <vector>

#include "automation/names.h"
#include "automation/run_time_error.h"
#include "gateways/mail/mail_message.h"
#include "gateways/mail/smtp_mail_channel.h"

namespace qz {

std::string* SmtpMail::Field(std::string_view name) {
  if (AsciiCaseEqual(name, "ServerName")) return &server_name_;
  if (AsciiCaseEqual(name, "MailFrom")) return &mail_from_;
  if (AsciiCaseEqual(name, "MailTo")) return &mail_to_;
  if (AsciiCaseEqual(name, "Subject")) return &subject_;
  if (AsciiCaseEqual(name, "Message")) return &message_;
  return nullptr;
}

Variant SmtpMail::GetProperty(std::string_view name) {
  if (std::string* field = Field(name)) return Variant(*field);
  return DispatchObject::GetProperty(name);
}

void SmtpMail::SetProperty(std::string_view name, const Variant& value) {
  std::string* field = Field(name);
  if (!field) return DispatchObject::SetProperty(name, value);
  *field = value.Text();  // string properties: Null raises 94, arrays 13
}

Variant SmtpMail::CallMethod(std::string_view name, std::span<Variant> args) {
  if (!AsciiCaseEqual(name, "gvarSendMessage")) return DispatchObject::CallMethod(name, args);
  if (!args.empty()) throw RunTimeError(kErrWrongArguments);
  return Variant(Send());
}

std::string SmtpMail::Send() {
  failure_kind_ = FailureKind::kTransient;
  // Both addresses may carry a display name: "Ops <ops@example.org>".
  MailMessage message{ParseMailbox(mail_from_), {ParseMailbox(mail_to_)}, {}, subject_, message_};
  std::string data;
  try {
    data = ComposeMail(message);
  } catch (const std::invalid_argument& refused) {
    return std::string("Mail not sent: ") + refused.what();
  }
  const std::vector<std::string> recipients = {message.to.front().address};
  SmtpOutcome outcome = SendSmtp(server_name_, message.from.address, recipients, data, options_);
  if (outcome.accepted) return std::string(kSmtpAccepted);
  failure_kind_ = SmtpReplyKind(outcome.code);
  return outcome.reply;
}

void RegisterSmtpMail(ComponentRegistry& registry, SmtpOptions options) {
  registry.Register(kSmtpMailProgId, [options = std::move(options)](std::string_view) {
    return std::make_shared<SmtpMail>(options);
  });
}

}  // namespace qz
