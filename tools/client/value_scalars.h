// Shared pieces of the text and JSON printers: numbers and object references
// as the daemon sends them. Pure functions; safe from any thread.
#pragma once

#include <glib.h>

#include <optional>
#include <string>

namespace qz::client {

// Decimal text of any D-Bus integer type (bytes included) or of a double
// (shortest text that reads back the same; nullopt for NaN and infinities).
std::optional<std::string> NumberText(GVariant* value);

// True for a `(so)` object reference.
bool IsObjectReference(GVariant* value);

}  // namespace qz::client
