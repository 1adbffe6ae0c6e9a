#include "server/smtp_allow_list.h"

#include <variant>

#include "automation/names.h"
#include "config/settings_groups.h"
#include "config/settings_path.h"
#include "gateways/mail/mail_profile.h"
#include "gateways/mail/smtp_server_url.h"
#include "platform/ini_file.h"
#include "platform/registry_store.h"
#include "platform/trim.h"
#include "server/secret_blanking.h"

namespace qz {
namespace {

// The element of the mail options that names the SMTP server.
constexpr int64_t kSmtpServerElement = 3;

// "host:port" of a server name, the host as libcurl writes it (IPv6 in
// brackets); nothing for a name that is no server.
std::optional<std::string> Endpoint(std::string_view server) {
  auto parsed = ParseSmtpServer(server);
  const auto* url = std::get_if<SmtpServerUrl>(&parsed);
  if (!url) return std::nullopt;
  const size_t scheme_end = url->shown.find("://");
  return url->shown.substr(scheme_end + 3);
}

std::vector<std::string> ProfileServers(RegistryStore& store) {
  std::vector<std::string> servers;
  RegHandle key = 0;
  if (store.OpenKey(kHkeyCurrentUser, kMessageProfilesKey, key) != kRegOk) return servers;
  std::string name;
  for (uint32_t i = 0; store.EnumKey(key, i, kRegMaxNameChars + 1, name) == kRegOk; ++i) {
    MailProfile profile;
    if (ReadMailProfile(store, name, profile) == kRegOk && profile.transport != kSendmailTransport)
      servers.push_back(profile.transport);
  }
  store.CloseKey(key);
  return servers;
}

}  // namespace

std::vector<std::string> SplitServerList(std::string_view list) {
  const std::vector<std::string_view> entries = ListEntries(list);
  return {entries.begin(), entries.end()};
}

bool SmtpServerAllowed(std::span<const std::string> allowed, std::string_view server) {
  const std::optional<std::string> wanted = Endpoint(server);
  if (!wanted) return false;
  for (const std::string& entry : allowed) {
    const std::optional<std::string> listed = Endpoint(entry);
    if (listed && AsciiCaseEqual(*listed, *wanted)) return true;
  }
  return false;
}

std::optional<std::string> RequestedSmtpServer(const Variant& lvarAny) {
  if (lvarAny.kind() != Variant::Kind::Array || lvarAny.LBound() > kSmtpServerElement ||
      lvarAny.UBound() < kSmtpServerElement)
    return std::nullopt;
  const Variant& element = lvarAny.At(kSmtpServerElement);
  // Only a value with a text names a server; the request itself says what is
  // wrong with any other.
  if (element.IsArray() || element.IsObject() || element.IsNull()) return std::nullopt;
  std::string text;
  try {
    text = element.Text();
  } catch (...) {
    return std::nullopt;  // no text: no server the daemon would connect to
  }
  if (TrimBlanks(text).empty()) return std::nullopt;
  return text;
}

std::vector<std::string> AllowedSmtpServers(std::string_view folder, RegistryStore* store) {
  IniFile settings(SettingsPath(folder, kMainSettingsFile));
  std::optional<std::string> list = settings.Read(kMailSection, kAllowedServersKey);
  if (list && !ListEntries(*list).empty()) return SplitServerList(*list);
  return store ? ProfileServers(*store) : std::vector<std::string>{};
}

std::optional<std::string> SmtpServerRefusal(const Variant& lvarAny, std::string_view folder,
                                             RegistryStore* store) {
  const std::optional<std::string> server = RequestedSmtpServer(lvarAny);
  if (!server || SmtpServerAllowed(AllowedSmtpServers(folder, store), *server)) return std::nullopt;
  return "SMTP server " + WithoutUrlCredentials(TrimBlanks(*server)) + " is not in [" +
         std::string(kMailSection) + "] " + std::string(kAllowedServersKey);
}

}  // namespace qz
