// Member and identifier names are matched without regard to ASCII case, as
// late binding does.
#pragma once

#include <string>
#include <string_view>

namespace qz {

bool AsciiCaseEqual(std::string_view a, std::string_view b);
std::string FoldName(std::string_view name);  // ASCII lower case

}  // namespace qz
