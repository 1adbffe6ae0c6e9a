// Human-readable text of a value the daemon answered. A lone string prints as
// it is; arrays print one element per line as "[index] value", nested arrays
// indented by two blanks. Pure function; safe from any thread.
#pragma once

#include <glib.h>

#include <string>

namespace qz::client {

// The text, without a final line break. Markers print as Empty, Null,
// NoDimensions and Missing; Booleans as True and False; an object reference
// as Object(bus, path), or Nothing for the path "/".
std::string FormatText(GVariant* value);

}  // namespace qz::client
