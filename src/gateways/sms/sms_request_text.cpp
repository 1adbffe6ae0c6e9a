#include "gateways/sms/sms_request_text.h"

#include <glib.h>

#include <algorithm>

#include "gateways/sms/percent_encoding.h"
#include "platform/holders.h"
#include "platform/utf8.h"

namespace qz {
namespace {

constexpr size_t kSmsChars = 160;

// Upper case over the whole of Unicode where the text is valid UTF-8; a
// text that is not keeps its bytes and only ASCII letters change.
std::string UpperCase(std::string_view text) {
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
    CharPtr upper(g_utf8_strup(text.data(), static_cast<gssize>(text.size())));
    return upper.get();
  }
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(g_ascii_toupper(c)); });
  return result;
}

}  // namespace

SmsMessageField SmsMessageFieldOf(std::string_view cleaned, SmsEncoding encoding) {
  SmsMessageField field;
  field.chars = Utf8Length(cleaned);
  if (encoding == SmsEncoding::Form) {
    field.value = PercentEncode(cleaned);
  } else {
    field.value.assign(cleaned);
    std::replace(field.value.begin(), field.value.end(), ' ', '+');
  }
  return field;
}

std::string SmsRequestText(const SmsSettings& s, const SmsMessageField& message,
                           std::string_view number, SmsEncoding encoding) {
  // The first character (a leading 0 or blank) gives way to "+" and the
  // country code.
  std::string_view local = number.substr(Utf8CharBytes(number));
  const long left = static_cast<long>(kSmsChars) - static_cast<long>(message.chars);
  std::string text;
  text.reserve(64 + message.value.size() + s.mstrSMSTrailer.size());
  text.append(s.mstrSMSTo).append("=%2B").append(s.mstrCountryCode);
  text.append(encoding == SmsEncoding::Form ? PercentEncode(local) : std::string(local));
  text.append("&").append(s.mstrSMSFrom).append("=Monitor");
  text.append("&").append(s.mstrSMSMsg).append("=").append(message.value);
  text.append("&").append(s.mstrSMSOffset).append("=").append(std::to_string(left));
  text.append("&").append(s.mstrSMSTrailer);
  return text;
}

bool SmsResponseOccurs(std::string_view response, std::string_view answer) {
  if (answer.empty()) return false;
  if (response.empty()) return true;
  return UpperCase(answer).find(UpperCase(response)) != std::string::npos;
}

}  // namespace qz
