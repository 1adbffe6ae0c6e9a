// The sources the procedures of the server report their errors under,
// written once. The boundary's own source is in contract/contract.h.
// Constants only.
#pragma once

namespace qz {

inline constexpr char kServerSource[] = "QzNotes.cServer";  // cNotify and its channels
inline constexpr char kPagerSource[] = "QzNotes.cPager";    // the SNPP client
inline constexpr char kEmailSource[] = "cEmail";            // the profile mail helper

}  // namespace qz
