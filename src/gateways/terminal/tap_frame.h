// TAP 1.8 framing: the checksum, the escaping of control characters inside
// fields and the cutting of one transaction (identifier and text) into blocks
// of at most 250 characters. Pure functions; safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "gateways/terminal/tap_limits.h"

namespace qz::tap {

inline constexpr char kStx = '\x02';
inline constexpr char kEtx = '\x03';
inline constexpr char kEot = '\x04';
inline constexpr char kAck = '\x06';
inline constexpr char kCr = '\r';
inline constexpr char kNak = '\x15';
inline constexpr char kEtb = '\x17';
inline constexpr char kSub = '\x1a';
inline constexpr char kEsc = '\x1b';
inline constexpr char kRs = '\x1e';
inline constexpr char kUs = '\x1f';

// The three characters that close a block: the 7-bit sum of every character
// from STX to the end character, its low 12 bits as three nibbles each added
// to '0', most significant first.
std::string Checksum(std::string_view block);

// A field as it crosses the line: control characters as SUB and the
// character plus 0x40; every character outside ASCII (one UTF-8 sequence or
// stray byte) as '?', since the line carries 7 bits.
std::string EscapeField(std::string_view text);

// The inverse of EscapeField for the characters it escapes.
std::string UnescapeField(std::string_view field);

// The blocks of one transaction, each from STX to the closing CR. Fields
// are escaped here. A block that ends between fields ends in ETB, one that
// cuts a field ends in US, the last in ETX; an escape pair is never cut.
std::vector<std::string> TransactionBlocks(std::string_view identifier, std::string_view text,
                                           size_t data_chars = kBlockDataChars);

}  // namespace qz::tap
