// The wire form of Variants: D-Bus `v` values. Integers, doubles, strings,
// Booleans and arrays map to their D-Bus types; the kinds D-Bus has no type
// for travel as a byte marker (0 Empty, 1 Null, 2 no dimensions, 3 Missing);
// an object reference is `(so)`. Pure conversions, safe from any thread.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "automation/dispatch_object.h"
#include "automation/variant.h"
#include "contract/contract.h"

namespace qz {

// Makes the object a `(so)` reference stands for; null for path "/".
using ObjectResolver = std::function<std::shared_ptr<DispatchObject>(std::string_view bus_name,
                                                                     std::string_view path)>;

// The Variant a wire value holds (the content of a `v`, or any other value).
// Raises 13 for values with no Variant form (unknown byte markers, dict
// entries, file descriptors, object references without a resolver).
Variant FromWire(GVariant* value, const ObjectResolver& resolve_object);

// A new floating `s` of the text made valid UTF-8 (ValidUtf8).
GVariant* WireString(std::string_view text);

// A new floating `v` holding the wire form of `value`.
GVariant* ToWireVariant(const Variant& value);
// The wire form itself (not boxed in a `v`).
GVariant* ToWire(const Variant& value);

}  // namespace qz
