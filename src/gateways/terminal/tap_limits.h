// Every time limit and count the pager terminal component works within, in
// one place so the README and the code say the same. Constants only.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace qz::tap {

using namespace std::chrono_literals;

// A modem command (reset, echo off, hang-up) must be answered within this.
inline constexpr auto kModemCommandLimit = 5s;
// From ATDT to CONNECT (or a failure result).
inline constexpr auto kDialLimit = 60s;
// From the first CR to the terminal's go-ahead, password answer included.
inline constexpr auto kLogOnLimit = 30s;
// The CR that wakes the terminal is repeated this often until it says "ID=".
inline constexpr auto kWakeInterval = 2s;
// Log-on attempts the terminal may answer with NAK before we give up.
inline constexpr int kMaxLogOnAttempts = 3;
// From EOT to the terminal's ESC EOT.
inline constexpr auto kLogOffLimit = 10s;
// Silence before and after "+++" that puts a modem back in command mode.
inline constexpr auto kEscapeGuard = 1100ms;
// How long DTR stays down when hanging up.
inline constexpr auto kDtrDropTime = 500ms;
// Retransmissions of one block the terminal answered with NAK.
inline constexpr int kMaxRetransmits = 3;
// Characters between STX and the block's end character.
inline constexpr size_t kBlockDataChars = 250;
// Seconds allowed for each page's answer when the caller sets no Timeout.
inline constexpr int16_t kDefaultPageTimeout = 60;
// What may arrive unconsumed while an answer is awaited: far more than any
// terminal's banner, far less than a line that never stops talking.
inline constexpr size_t kMaxUnansweredChars = 16 * 1024;
// The terminal's free text kept for an error description.
inline constexpr size_t kLastWordsChars = 200;
// Error number of every failure of the component.
inline constexpr int32_t kErrTerminal = 60100;

}  // namespace qz::tap
