#include "gateways/sms/sms_loader.h"

#include <array>
#include <string>

#include "config/profile_string.h"
#include "config/settings_groups.h"
#include "config/settings_path.h"
#include "diagnostics/error_reporter.h"
#include "diagnostics/error_sources.h"

namespace qz {
namespace {

struct SmsRow {
  std::string_view section;
  std::string_view key;
  std::string SmsSettings::*field;
};

// Rows 1 to 14 in reading order; the field names of the request come from
// "SMSMapping" only, never from "SMS".
constexpr std::array<SmsRow, 14> kRows{{
    {"SMS", "Protocol", &SmsSettings::mstrProtocol},
    {"SMS", "IPAddress", &SmsSettings::mstrIPAddress},
    {"SMS", "Connect", &SmsSettings::mstrConnect},
    {"SMS", "Method", &SmsSettings::mstrMethod},
    {"SMS", "Access", &SmsSettings::mstrAccess},
    {"SMS", "Accept", &SmsSettings::mstrAccept},
    {"SMS", "Header", &SmsSettings::mstrHeader},
    {"SMS", "Response", &SmsSettings::mstrResponse},
    {"SMS", "CountryCode", &SmsSettings::mstrCountryCode},
    {"SMSMapping", "SMSTo", &SmsSettings::mstrSMSTo},
    {"SMSMapping", "SMSFrom", &SmsSettings::mstrSMSFrom},
    {"SMSMapping", "SMSMsg", &SmsSettings::mstrSMSMsg},
    {"SMSMapping", "SMSOffset", &SmsSettings::mstrSMSOffset},
    {"SMSMapping", "SMSTrailer", &SmsSettings::mstrSMSTrailer},
}};

constexpr size_t kListSize = kRows.size() + 1;  // position 0 stays empty

}  // namespace

bool mblnInitialiseSMS(const ChannelCall& call) {
  bool loaded = false;
  try {
    const std::string path = SettingsPath(call.folder, kMainSettingsFile);
    if (!SettingsFileExists(path)) return false;
    // There is no window message loop here, so the points where pending
    // events would be processed do nothing.
    std::array<std::string, kListSize> sections, keys, values;
    for (size_t r = 1; r < kListSize; ++r) {
      sections[r] = kRows[r - 1].section;
      keys[r] = kRows[r - 1].key;
    }
    for (size_t r = 1; r < kListSize; ++r) {
      if (!mblnGetPrivateProfileString(path, sections[r], keys[r], values[r])) return false;
    }
    SmsSettings& sms = call.kept.Get<SmsSettings>();
    for (size_t r = 1; r < kListSize; ++r) sms.*kRows[r - 1].field = std::move(values[r]);
    loaded = true;
  } catch (...) {
    gsubDisplayError(kServerSource, "mblnInitialiseSMS");
  }
  return loaded;
}

}  // namespace qz
