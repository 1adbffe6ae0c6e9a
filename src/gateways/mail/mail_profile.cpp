#include "gateways/mail/mail_profile.h"

#include <strings.h>

#include "platform/registry_store.h"
#include "platform/utf8.h"

namespace qz {
namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         ::strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

std::string ProfilePath(std::string_view name) {
  return std::string(kMessageProfilesKey) + std::string(name);
}

}  // namespace

std::string TransportProblem(std::string_view transport) {
  if (transport == kSendmailTransport) return {};
  std::string_view rest;
  if (StartsWithNoCase(transport, "smtp://")) {
    rest = transport.substr(7);
  } else if (StartsWithNoCase(transport, "smtps://")) {
    rest = transport.substr(8);
  } else {
    return "the transport must be an smtp:// or smtps:// URL or \"sendmail\"";
  }
  // user:password@ may precede the host; the host itself must be there.
  std::string_view authority = rest.substr(0, rest.find('/'));
  size_t at = authority.rfind('@');
  std::string_view host = at == std::string_view::npos ? authority : authority.substr(at + 1);
  if (host.empty() || host.front() == ':') return "the transport URL names no server";
  if (transport.find_first_of("\r\n \t") != std::string_view::npos)
    return "the transport URL holds blanks or line breaks";
  return {};
}

std::string ProfileNameProblem(std::string_view name) {
  if (name.empty()) return "a profile name must not be empty";
  if (name.find('\\') != std::string_view::npos) return "a profile name must not hold \"\\\"";
  if (Utf8Length(name) > kRegMaxNameChars) return "a profile name has at most 255 characters";
  return {};
}

int32_t ReadMailProfile(RegistryStore& store, std::string_view name, MailProfile& profile) {
  if (!ProfileNameProblem(name).empty()) return kRegNotFound;
  RegistryStore::Values values;
  int32_t status = store.ReadValues(kHkeyCurrentUser, ProfilePath(name), values);
  if (status != kRegOk) return status;
  profile = {};
  for (const auto& [value_name, data] : values) {
    if (::strcasecmp(value_name.c_str(), std::string(kProfileTransport).c_str()) == 0)
      profile.transport = data;
    else if (::strcasecmp(value_name.c_str(), std::string(kProfileFrom).c_str()) == 0)
      profile.from = data;
  }
  return kRegOk;
}

}  // namespace qz
