#include "gateways/sms/sms_encoding.h"

#include <glib.h>

#include <string>

#include "config/profile_string.h"
#include "config/settings_groups.h"
#include "config/settings_path.h"

namespace qz {

SmsEncoding SmsEncodingSetting(std::string_view folder) {
  std::string value;
  mblnGetPrivateProfileString(SettingsPath(folder, kMainSettingsFile), "SMS", "Encoding", value);
  const size_t begin = value.find_first_not_of(' ');
  if (begin == std::string::npos) return SmsEncoding::Seed;
  const std::string_view word =
      std::string_view(value).substr(begin, value.find_last_not_of(' ') + 1 - begin);
  return word.size() == 4 && g_ascii_strncasecmp(word.data(), "form", 4) == 0 ? SmsEncoding::Form
                                                                              : SmsEncoding::Seed;
}

}  // namespace qz
