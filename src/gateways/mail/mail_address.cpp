// Address syntax: what may stand in a header and on the SMTP envelope.
#include <string_view>

#include "gateways/mail/mail_message.h"
#include "platform/trim.h"

namespace qz {
namespace {

constexpr size_t kMaxLocalPart = 64;  // RFC 5321 4.5.3.1.1
constexpr size_t kMaxAddress = 254;   // what fits a 256-octet path with <>
constexpr size_t kMaxLabel = 63;

bool Atext(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("!#$%&'*+-/=?^_`{|}~").find(static_cast<char>(c)) !=
             std::string_view::npos;
}

bool DotAtom(std::string_view s) {
  if (s.empty() || s.front() == '.' || s.back() == '.') return false;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '.') {
      if (s[i + 1] == '.') return false;
    } else if (!Atext(static_cast<unsigned char>(s[i]))) {
      return false;
    }
  }
  return true;
}

// A quoted local part: qtext, blanks and quoted pairs between the quotes.
bool QuotedString(std::string_view s) {
  if (s.size() < 2 || s.front() != '"' || s.back() != '"') return false;
  for (size_t i = 1; i + 1 < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == '\\') {
      if (++i + 1 >= s.size()) return false;
      const auto quoted = static_cast<unsigned char>(s[i]);
      if (quoted != '\t' && (quoted < 0x20 || quoted > 0x7E)) return false;
    } else if (c == '"' || (c != '\t' && (c < 0x20 || c > 0x7E))) {
      return false;
    }
  }
  return true;
}

// The host name syntax SMTP asks of a domain: labels of letters, digits and
// inner hyphens.
bool HostName(std::string_view s) {
  size_t label = 0;
  for (size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == '.') {
      if (label == 0 || label > kMaxLabel || s[i - 1] == '-' || s[i - label] == '-') return false;
      label = 0;
      continue;
    }
    const auto c = static_cast<unsigned char>(s[i]);
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'))
      return false;
    ++label;
  }
  return true;
}

bool DomainLiteral(std::string_view s) {
  if (s.size() < 3 || s.front() != '[' || s.back() != ']') return false;
  for (size_t i = 1; i + 1 < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 33 || c > 126 || c == '[' || c == ']' || c == '\\') return false;
  }
  return true;
}

}  // namespace

bool IsAddrSpec(std::string_view address) {
  if (address.size() > kMaxAddress) return false;
  size_t at;
  if (!address.empty() && address.front() == '"') {
    // The closing quote is the first one not escaped.
    size_t i = 1;
    while (i < address.size() && address[i] != '"') i += address[i] == '\\' ? 2 : 1;
    at = i + 1;
    if (at >= address.size() || address[at] != '@') return false;
  } else {
    at = address.find('@');
    if (at == std::string_view::npos) return false;
  }
  const std::string_view local = address.substr(0, at);
  const std::string_view domain = address.substr(at + 1);
  if (local.empty() || domain.empty() || local.size() > kMaxLocalPart) return false;
  if (!(local.front() == '"' ? QuotedString(local) : DotAtom(local))) return false;
  return domain.front() == '[' ? DomainLiteral(domain) : HostName(domain);
}

MailAddress ParseMailbox(std::string_view text) {
  text = TrimBlanks(text);
  const size_t open = text.rfind('<');
  if (text.empty() || text.back() != '>' || open == std::string_view::npos)
    return {{}, std::string(text)};
  MailAddress mailbox{{}, std::string(TrimBlanks(text.substr(open + 1, text.size() - open - 2)))};
  std::string_view name = TrimBlanks(text.substr(0, open));
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
    name = name.substr(1, name.size() - 2);
    for (size_t i = 0; i < name.size(); ++i) {
      if (name[i] == '\\' && i + 1 < name.size()) ++i;
      mailbox.display_name += name[i];
    }
  } else {
    mailbox.display_name = name;
  }
  return mailbox;
}

}  // namespace qz
