// The clock arithmetic of the SNPP waits: the accepted timeout texts and the
// deadlines of Connect and SendPage, in seconds on a monotonic clock (the
// waits only compare readings of the same clock). Pure functions apart from
// ClockSeconds; safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace qz {

inline constexpr std::string_view kDefaultSnppTimeout = "20";

// Seconds, with fractions, on the monotonic clock.
double ClockSeconds();

// True for an integer or decimal text, optionally signed, with blanks around
// it: "7", " -2.5 ", ".5", "3.". No exponent, no "&H", nothing else.
bool IsTimeoutNumber(std::string_view text);

// What the Timeout property stores for `text`.
std::string TimeoutSetting(std::string_view text);

// Connect: the clock reading plus 5, rounded to the nearest whole second.
double ConnectDeadline(double now);

// SendPage: the clock reading plus the timeout text converted to a 16-bit
// whole number (ties to even), the sum rounded. Raises 13 for a text that is
// no number and 6 when it does not fit in 16 bits.
double SendPageDeadline(double now, std::string_view timeout);

}  // namespace qz
