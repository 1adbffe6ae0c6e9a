// Mail profiles in the registry store: one key per profile under the
// messaging subsystem's profile key of HKEY_CURRENT_USER. Its values say how
// the profile's mail leaves (Transport: an smtp:// or smtps:// URL, user and
// password allowed, or "sendmail" for the local sendmail -t -i) and whom it
// comes from (From). Stateless functions; safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qz {

class RegistryStore;

inline constexpr std::string_view kMessageProfilesKey =
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles\\";
inline constexpr std::string_view kProfileTransport = "Transport";
inline constexpr std::string_view kProfileFrom = "From";
inline constexpr std::string_view kSendmailTransport = "sendmail";

struct MailProfile {
  std::string transport;
  std::string from;
};

// Why `transport` names no way out (empty when it does).
std::string TransportProblem(std::string_view transport);
// Why `name` cannot name a profile (empty when it can).
std::string ProfileNameProblem(std::string_view name);

// kRegOk with `profile` filled, kRegNotFound for no such profile, or the
// store's failure.
int32_t ReadMailProfile(RegistryStore& store, std::string_view name, MailProfile& profile);

}  // namespace qz
