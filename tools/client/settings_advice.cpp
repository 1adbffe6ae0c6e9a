#include "client/settings_advice.h"

#include <glib.h>

#include <array>
#include <charconv>

#include "client/gateway_words.h"
#include "config/settings_groups.h"

namespace qz::client {
namespace {

// Longer values read back cut to this many characters.
constexpr size_t kLongestValue = 99;

struct KnownSection {
  std::string_view name;
  std::vector<std::string_view> keys;
};

std::vector<std::string_view> KeysOf(std::span<const SettingKey> group, std::string_view section) {
  std::vector<std::string_view> keys;
  for (const SettingKey& k : group) {
    if (k.section == section) keys.push_back(k.key);
  }
  return keys;
}

// The sections some reader of the server looks at. The SMS loader reads its
// five field names from "SMSMapping", under the names the SMS group ends with.
const std::vector<KnownSection>& KnownSections() {
  static const std::vector<KnownSection> sections = [] {
    std::vector<KnownSection> all;
    for (std::string_view name : {kDefaultSection, std::string_view("Gateway")})
      all.push_back({name, KeysOf(kGatewaysGroup, name)});
    all.push_back({kPagerTerminalGroup[0].section, KeysOf(kPagerTerminalGroup, "Pager Terminal")});
    all.push_back({kSnppGroup[0].section, KeysOf(kSnppGroup, "SNPP Paging Service")});
    all.push_back({kSmsGroup[0].section, KeysOf(kSmsGroup, "SMS")});
    std::vector<std::string_view> mapping;
    for (size_t k = kSmsGroup.size() - 5; k < kSmsGroup.size(); ++k)
      mapping.push_back(kSmsGroup[k].key);
    all.push_back({"SMSMapping", mapping});
    return all;
  }();
  return sections;
}

// Settings files match section and key names without regard to case.
bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && g_ascii_strncasecmp(a.data(), b.data(), a.size()) == 0;
}

const KnownSection* FindSection(std::string_view name) {
  for (const KnownSection& s : KnownSections()) {
    if (SameName(s.name, name)) return &s;
  }
  return nullptr;
}

std::string Join(std::span<const std::string_view> names) {
  std::string text;
  for (std::string_view n : names) text += (text.empty() ? "" : ", ") + std::string(n);
  return text;
}

bool WholeNumber(std::string_view text, long low, long high) {
  long n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  return ec == std::errc() && end == text.data() + text.size() && n >= low && n <= high;
}

// What the server makes of a value it does read; empty when it is used as written.
std::string ValueWarning(std::string_view section, std::string_view key, std::string_view value) {
  const std::string setting = std::string(key) + "=" + std::string(value);
  if (section == kDefaultSection && SameName(key, kDefaultGatewayKey.key) &&
      !IsGatewayNumber(value))
    return setting + ": the server pages through gateway " + GatewaysOr([](const PagingGateway& g) {
             return std::to_string(g.number) + " (" + g.name + ")";
           }) +
           " only; with any other Index every paging fails" +
           (value.empty() || !WholeNumber(value, -2147483647L, 2147483647L)
                ? " and a delivery stops at its first group"
                : "");
  if (SameName(section, "SNPP Paging Service") && SameName(key, "TCPPort") &&
      !WholeNumber(value, 1, 65535))
    return setting + ": the SNPP channel needs a TCP port, a whole number from 1 to 65535";
  if (SameName(section, "SNPP Paging Service") && SameName(key, "Timeout") &&
      !WholeNumber(value, 0, 2147483647L))
    return setting + ": not a number, so the SNPP channel waits 20 seconds";
  if (SameName(section, "SMS") && SameName(key, "Access") &&
      !WholeNumber(value, -2147483647L, 2147483647L))
    return setting + ": the SMS gateway's Access must be a whole number";
  if (value.size() > kLongestValue)
    return std::string(key) + ": the value has " + std::to_string(value.size()) +
           " characters; the server reads back only the first " + std::to_string(kLongestValue);
  return "";
}

}  // namespace

std::vector<std::string> SettingsWarnings(std::string_view section,
                                          std::span<const std::string> assignments) {
  std::vector<std::string> warnings;
  const KnownSection* known = FindSection(section);
  if (!known) {
    std::vector<std::string_view> names;
    for (const KnownSection& s : KnownSections()) names.push_back(s.name);
    warnings.push_back("the server reads no section [" + std::string(section) + "] (it reads " +
                       Join(names) + ")");
  } else if (SameName(section, kDefaultSection) && section != kDefaultSection) {
    // Only the exact name goes to QzNotes.ini; any other spelling is looked
    // up as a section with a "path" of its own.
    warnings.push_back("[" + std::string(section) +
                       "] is not [Default]: only that exact name is "
                       "written to QzNotes.ini");
    known = nullptr;
  }
  for (const std::string& assignment : assignments) {
    const size_t eq = assignment.find('=');
    const std::string_view key = std::string_view(assignment).substr(0, eq);
    const std::string_view value =
        eq == std::string::npos ? std::string_view() : std::string_view(assignment).substr(eq + 1);
    if (known) {
      bool read = known->name != kDefaultSection && SameName(key, kPathKey);
      for (std::string_view k : known->keys) read = read || SameName(k, key);
      if (!read) {
        warnings.push_back("the server reads no key " + std::string(key) + " in [" +
                           std::string(known->name) + "] (it reads " + Join(known->keys) + ")");
        continue;
      }
    }
    std::string problem = ValueWarning(known ? known->name : section, key, value);
    if (!problem.empty()) warnings.push_back(std::move(problem));
  }
  return warnings;
}

std::optional<SectionFile> FileOfSection(std::string_view section) {
  if (SameName(section, "Pager Terminal")) return SectionFile{0, kPagerSettingsFile};
  if (SameName(section, "SNPP Paging Service")) return SectionFile{1, kSnppSettingsFile};
  if (SameName(section, "Gateway")) return SectionFile{2, kMainSettingsFile};
  if (SameName(section, "SMS")) return SectionFile{3, kSmsSettingsFile};
  return std::nullopt;
}

bool IsPagerTerminalSection(std::string_view section) {
  return SameName(section, kPagerTerminalGroup[0].section);
}

std::optional<size_t> ShortTerminalKey(std::string_view key) {
  for (size_t k = 0; k < kShortPagerTerminalKeys; ++k) {
    if (SameName(kPagerTerminalGroup[k].key, key)) return k;
  }
  return std::nullopt;
}

std::string ShortTerminalKeyNames() {
  std::string names;
  for (size_t k = 0; k < kShortPagerTerminalKeys; ++k) {
    names += k == 0 ? "" : k + 1 == kShortPagerTerminalKeys ? " and " : ", ";
    names += kPagerTerminalGroup[k].key;
  }
  return names;
}

}  // namespace qz::client
