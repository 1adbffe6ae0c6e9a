// The type library of the server as D-Bus introspection XML, generated from
// the class tables: every operation with its parameters, by-reference
// out-arguments and dispatch identifier annotation. Safe from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "server/class_table.h"

namespace qz {

std::string WireTypeString(WireType type);  // "v", "s", "n", "i", "b", "(so)"

// The <interface> element of one of the class's interfaces.
std::string InterfaceXml(const ClassDescription& description, std::string_view interface);
// A whole object: the class's interfaces, IDispatch and the standard ones.
std::string ObjectXml(const ClassDescription& description);
// The factory object, with the class folders as children.
std::string FactoryXml();
// A node that only leads to `children`.
std::string NodeXml(const std::vector<std::string>& children);

}  // namespace qz
