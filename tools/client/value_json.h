// JSON text of a value the daemon answered, for scripts. Arrays become JSON
// arrays, strings JSON strings, numbers and Booleans their JSON kinds; the
// kinds JSON has no word for become small objects with a "kind" member.
// Pure function; safe from any thread.
#pragma once

#include <glib.h>

#include <string>

namespace qz::client {

// One line of JSON, no final line break. Empty, Null, NoDimensions and
// Missing print as {"kind":"Empty"} and so on; an object reference as
// {"kind":"Object","bus":"...","path":"..."}; a double that is not finite as
// null.
std::string FormatJson(GVariant* value);

}  // namespace qz::client
