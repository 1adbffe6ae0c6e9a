// The built-in component "qzSMTP.cMail": one plain-text mail to one
// recipient through the SMTP server it is given. Properties ServerName,
// MailFrom, MailTo, Subject, Message; gvarSendMessage composes and sends and
// answers kSmtpAccepted when the server accepted the mail, otherwise the
// server's final reply line or why the mail could not be sent. Owned by one
// apartment; all calls on its thread.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "automation/component_registry.h"
#include "automation/dispatch_object.h"
#include "gateways/mail/smtp_transport.h"

namespace qz {

inline constexpr std::string_view kSmtpAccepted = "250 Requested mail action okay, completed";

class SmtpMail final : public DispatchObject {
 public:
  explicit SmtpMail(SmtpOptions options = {}) : options_(std::move(options)) {}

  Variant GetProperty(std::string_view name) override;
  void SetProperty(std::string_view name, const Variant& value) override;
  Variant CallMethod(std::string_view name, std::span<Variant> args) override;
  // How the last mail that was not accepted is sorted.
  FailureKind LastFailureKind() const { return failure_kind_; }

 private:
  std::string* Field(std::string_view name);
  std::string Send();

  SmtpOptions options_;
  std::string server_name_, mail_from_, mail_to_, subject_, message_;
  FailureKind failure_kind_ = FailureKind::kTransient;
};

// Registers the component under kSmtpMailProgId; `options` are for tests
// (time limits, trusted certificates).
void RegisterSmtpMail(ComponentRegistry& registry, SmtpOptions options = {});

}  // namespace qz
