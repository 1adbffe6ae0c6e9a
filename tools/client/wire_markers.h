// The byte markers that stand for the Variant kinds D-Bus has no type for, and
// helpers to recognise and build them. Pure functions; safe from any thread.
#pragma once

#include <glib.h>

#include "contract/contract.h"
#include "platform/holders.h"

#include <optional>
#include <string_view>

namespace qz::client {

using Marker = WireMarker;

// "Empty", "Null", "NoDimensions", "Missing".
std::string_view MarkerName(Marker m);

// The marker a byte stands for, if it is one of the four.
std::optional<Marker> MarkerOfByte(guchar b);

// The marker written as a command-line word ("empty", "null", "nodim",
// "missing"; any letter case).
std::optional<Marker> MarkerOfWord(std::string_view word);

// A floating `v` holding the marker byte, ready for a Variant slot.
GVariant* NewMarker(Marker m);

// Strips any number of `v` wrappings. Children of serialised values are
// fresh instances, hence the owned result.
VariantPtr Unwrapped(GVariant* value);

}  // namespace qz::client
