// Sends one composed message to an SMTP server through libcurl: STARTTLS
// whenever the server offers it (required when the server name carries a
// user and password), implicit TLS for smtps://, certificates verified.
// Blocks the calling thread for at most the total time limit; safe from any
// thread (every call has its own handle and connection).
#pragma once

#include <chrono>
#include <span>
#include <string>
#include <string_view>

#include "gateways/delivery_parts.h"

namespace qz {

// Default limits: reaching the server (TCP, and TLS for smtps) and the whole
// exchange, greeting to the reply after the data.
inline constexpr std::chrono::milliseconds kSmtpConnectLimit{10'000};
inline constexpr std::chrono::milliseconds kSmtpTotalLimit{60'000};

struct SmtpOptions {
  std::chrono::milliseconds connect_limit = kSmtpConnectLimit;
  std::chrono::milliseconds total_limit = kSmtpTotalLimit;
  std::string ca_file = {};  // trusted certificates in PEM; empty: the system's
};

struct SmtpOutcome {
  bool accepted = false;
  // The server's final reply line without CR LF, or why no server could be
  // reached or the exchange broke off.
  std::string reply;
  // The code of the server's refusal (4xx, 5xx); 0 when no reply decided.
  int code = 0;
};

// 5xx will be refused again; a 4xx, or no answer at all, may go another time.
FailureKind SmtpReplyKind(int code);

// `server` may be host, host:port, [v6]:port, a bare IPv6 address or an
// smtp:// / smtps:// URL (optionally with user:password@); the default port
// is 25 for smtp and 465 for smtps. Envelope addresses holding CR, LF or
// NUL are refused before any connection is made.
SmtpOutcome SendSmtp(std::string_view server, std::string_view envelope_from,
                     std::span<const std::string> recipients, std::string_view data);
SmtpOutcome SendSmtp(std::string_view server, std::string_view envelope_from,
                     std::span<const std::string> recipients, std::string_view data,
                     const SmtpOptions& options);

}  // namespace qz
