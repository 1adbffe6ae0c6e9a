#include "gateways/mail/smtp_server_url.h"

#include <curl/curl.h>

#include <memory>

#include "platform/holders.h"
#include "platform/trim.h"

namespace qz {
namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

CurlText UrlPart(CURLU* url, CURLUPart part, unsigned flags = 0) {
  char* text = nullptr;
  if (curl_url_get(url, part, &text, flags) != CURLUE_OK) return nullptr;
  return CurlText(text);
}

}  // namespace

std::variant<SmtpServerUrl, std::string> ParseSmtpServer(std::string_view server) {
  server = TrimBlanks(server);
  if (server.empty()) return std::string("no SMTP server is named");
  for (unsigned char c : server)
    if (c <= 0x20 || c == 0x7F)
      return "the server name \"" + std::string(server) + "\" holds blanks or control characters";

  std::string text;
  const size_t scheme_end = server.find("://");
  if (scheme_end != std::string_view::npos) {
    const std::string scheme = Lower(server.substr(0, scheme_end));
    if (scheme != "smtp" && scheme != "smtps")
      return "the server name \"" + std::string(server) + "\" is no smtp:// or smtps:// URL";
    text = scheme + std::string(server.substr(scheme_end));
  } else {
    if (server.find_first_of("/?#@") != std::string_view::npos)
      return "the server name \"" + std::string(server) + "\" is not host, host:port or a URL";
    // Two colons or more without brackets: an IPv6 address without a port.
    const bool bare_v6 = server.front() != '[' && server.find(':') != server.rfind(':');
    text = bare_v6 ? "smtp://[" + std::string(server) + "]" : "smtp://" + std::string(server);
  }

  CurlUrlPtr url(curl_url());
  if (!url || curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK)
    return "the server name \"" + std::string(server) + "\" is not a valid host or URL";
  CurlText scheme = UrlPart(url.get(), CURLUPART_SCHEME);
  CurlText host = UrlPart(url.get(), CURLUPART_HOST);
  CurlText port = UrlPart(url.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
  if (!scheme || !host || !port || !*host.get())
    return "the server name \"" + std::string(server) + "\" names no host";

  SmtpServerUrl result;
  result.implicit_tls = std::string_view(scheme.get()) == "smtps";
  result.has_credentials = UrlPart(url.get(), CURLUPART_USER) != nullptr;
  result.shown = std::string(scheme.get()) + "://" + host.get() + ":" + port.get();
  CurlText full = UrlPart(url.get(), CURLUPART_URL);
  if (!full) return "the server name \"" + std::string(server) + "\" is not a valid host or URL";
  result.url = full.get();
  return result;
}

}  // namespace qz
