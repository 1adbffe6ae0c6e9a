// CRC-32 (the IEEE polynomial of zlib and Ethernet), for checking records
// that a crash may have left half written. Pure; safe from any thread.
#pragma once

#include <cstdint>
#include <string_view>

namespace qz {

uint32_t Crc32(std::string_view bytes);

}  // namespace qz
