// Names of the callback component's D-Bus service and its one method.
// Constants only.
#pragma once

#include <string_view>

namespace qz {

inline constexpr std::string_view kCallbackBusName = "qzCallback.cService";
inline constexpr std::string_view kCallbackObjectPath = "/";
inline constexpr std::string_view kCallbackInterface = "org.qznotes.QzNotes.Callback";
inline constexpr std::string_view kCallbackMethod = "CallBack";

}  // namespace qz
