// Turns the server names an administrator writes (host, host:port,
// [v6]:port, a bare IPv6 address, smtp:// or smtps:// URLs with optional
// user:password@) into the URL libcurl is given. Pure; safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <variant>

namespace qz {

inline constexpr long kSmtpDefaultPort = 25;
inline constexpr long kSmtpsDefaultPort = 465;

struct SmtpServerUrl {
  std::string url;    // what libcurl connects to, credentials included
  std::string shown;  // scheme://host:port, for messages (never the password)
  bool implicit_tls = false;
  bool has_credentials = false;
};

// The URL, or why the name cannot be used.
std::variant<SmtpServerUrl, std::string> ParseSmtpServer(std::string_view server);

}  // namespace qz
