// Key paths of the registry store: root keys by their numeric handles and
// sub-key paths of names separated by "\". A path may end in one "\", which
// names the same key; a path that begins with "\" or holds an empty name
// between two "\" (or ends in two) is refused. The empty path is the root
// key itself. Pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

using RegHandle = uint32_t;

// The predefined root keys, with the numbers every client knows them by.
inline constexpr RegHandle kHkeyClassesRoot = 0x80000000;
inline constexpr RegHandle kHkeyCurrentUser = 0x80000001;
inline constexpr RegHandle kHkeyLocalMachine = 0x80000002;
inline constexpr RegHandle kHkeyUsers = 0x80000003;
inline constexpr RegHandle kHkeyPerformanceData = 0x80000004;
inline constexpr RegHandle kHkeyCurrentConfig = 0x80000005;
inline constexpr RegHandle kHkeyDynData = 0x80000006;

inline constexpr size_t kRegMaxNameChars = 255;  // one key name, in characters
inline constexpr size_t kRegMaxDepth = 512;      // names in one path

bool IsRootKey(RegHandle handle);

// The names of `path`, or nullopt when the path is refused (see above, and
// names longer than kRegMaxNameChars or more than kRegMaxDepth of them).
std::optional<std::vector<std::string>> SplitKeyPath(std::string_view path);

// Names joined with "\": the one spelling a key is stored under.
std::string JoinKeyPath(const std::vector<std::string>& names, size_t count);

}  // namespace qz
