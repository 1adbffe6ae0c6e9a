// Reads one argument of `qznotes call` from its command-line text into the
// D-Bus value for a parameter of a given type. Pure function; safe from any
// thread.
//
// The notation is GVariant text ('"text"', '@n 1', '[<1>, <"a">]', true)
// with these additions: the words empty, null, nodim and missing stand for
// the four marker kinds; "[]" alone is an empty array; and where a string or
// a Variant is expected, a word that is no valid GVariant text is taken as a
// plain string, so `localhost` needs no quotes.
#pragma once

#include <glib.h>

#include <string>
#include <string_view>

#include "platform/holders.h"
#include "platform/status.h"

namespace qz::client {

// The value for a parameter of D-Bus type `type` (a single complete type).
// For "v" the result is a `v` wrapping the argument's value (an argument
// written as <...> is taken as the wrapping itself). Null, with `status`
// saying why, when the text does not fit.
VariantPtr ParseArgument(std::string_view text, const GVariantType* type, Status& status);

// The element of Invoke's `av` for a parameter of `type`: the value itself
// for a Variant parameter, the value wrapped in a `v` for a typed one.
VariantPtr ParseInvokeArgument(std::string_view text, const GVariantType* type, Status& status);

}  // namespace qz::client
