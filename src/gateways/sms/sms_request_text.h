// The request text the SMS channel hands to the gateway component for one
// number, in the web's form encoding, and the test of the gateway's answer.
// Pure functions; safe from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "gateways/sms/sms_settings.h"

namespace qz {

// How text and number go into the request. Seed: only spaces of the text
// become "+", everything else goes in as it is. Form: text and number are
// percent-encoded (RFC 3986 unreserved characters stay, UTF-8 bytes).
enum class SmsEncoding { Seed, Form };

// The message text of one message, ready for every request that carries it.
struct SmsMessageField {
  std::string value;  // what follows "<SMSMsg>="
  size_t chars = 0;   // its length in characters before any percent-encoding
};

// `cleaned` is the text after msubCleanMessage.
SmsMessageField SmsMessageFieldOf(std::string_view cleaned, SmsEncoding encoding);

// The request for one number: SMSTo "=%2B" CountryCode, the number without
// its first character, "&" SMSFrom "=Monitor&" SMSMsg "=" text "&" SMSOffset
// "=" 160 minus the text's length "&" SMSTrailer.
std::string SmsRequestText(const SmsSettings& settings, const SmsMessageField& message,
                           std::string_view number, SmsEncoding encoding);

// Whether the configured response occurs in the gateway's answer, ignoring
// case. An empty response occurs in every non-empty answer; nothing occurs
// in an empty answer.
bool SmsResponseOccurs(std::string_view response, std::string_view answer);

}  // namespace qz
