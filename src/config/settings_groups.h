// The settings files and the groups of keys the settings operations read and
// write, each in the element order of the arrays they answer.
// Constants only.
#pragma once

#include <array>
#include <string_view>

namespace qz {

inline constexpr std::string_view kMainSettingsFile = "QzNotes.ini";
inline constexpr std::string_view kPagerSettingsFile = "QzPage.ini";
inline constexpr std::string_view kSnppSettingsFile = "QzSNPP.ini";
inline constexpr std::string_view kSmsSettingsFile = "QzSMS.ini";

inline constexpr std::string_view kDefaultSection = "Default";
inline constexpr std::string_view kPathKey = "path";

struct SettingKey {
  std::string_view section;
  std::string_view key;
};

// The first four are the short pager-terminal group.
inline constexpr std::array<SettingKey, 7> kPagerTerminalGroup = {{
    {"Pager Terminal", "Number"},
    {"Pager Terminal", "Settings"},
    {"Pager Terminal", "ComPort"},
    {"Pager Terminal", "HandShaking"},
    {"Pager Terminal", "Echo"},
    {"Pager Terminal", "GetNbr"},
    {"Pager Terminal", "GetNote"},
}};
inline constexpr size_t kShortPagerTerminalKeys = 4;

inline constexpr std::array<SettingKey, 3> kGatewaysGroup = {{
    {"Gateway", "0"},
    {"Gateway", "1"},
    {kDefaultSection, "Index"},
}};

inline constexpr std::array<SettingKey, 3> kSnppGroup = {{
    {"SNPP Paging Service", "TCPPort"},
    {"SNPP Paging Service", "HostName"},
    {"SNPP Paging Service", "Timeout"},
}};

inline constexpr std::array<SettingKey, 14> kSmsGroup = {{
    {"SMS", "Protocol"},
    {"SMS", "IPAddress"},
    {"SMS", "Connect"},
    {"SMS", "Method"},
    {"SMS", "Access"},
    {"SMS", "Accept"},
    {"SMS", "Header"},
    {"SMS", "Response"},
    {"SMS", "CountryCode"},
    {"SMS", "SMSTo"},
    {"SMS", "SMSFrom"},
    {"SMS", "SMSMsg"},
    {"SMS", "SMSOffset"},
    {"SMS", "SMSTrailer"},
}};

inline constexpr SettingKey kDefaultGatewayKey = kGatewaysGroup[2];

}  // namespace qz
