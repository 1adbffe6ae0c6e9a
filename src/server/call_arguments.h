// Turns the body of a method call into an operation's arguments and its
// outcome into the reply body, for named methods and for IDispatch.Invoke.
// A typed parameter sent with another D-Bus type raises 13, a wrong number
// of arguments 450 (source "QzNotes"). Pure; safe from any thread.
#pragma once

#include <gio/gio.h>

#include <span>
#include <vector>

#include "server/class_table.h"
#include "server/wire_variant.h"

namespace qz {

// Raises unless the call's body has the type `signature`: 450 when the
// number of arguments differs, 13 otherwise.
void RequireSignature(GDBusMessage* call, const char* signature);

// `body` is the call's tuple of arguments.
std::vector<Variant> ArgumentsFromNamedCall(const Operation& op, GVariant* body,
                                            const ObjectResolver& resolve);
// `args` is Invoke's `av`; trailing optional arguments may be left out.
std::vector<Variant> ArgumentsFromInvoke(const Operation& op, GVariant* args,
                                         const ObjectResolver& resolve);

// (result, by-reference parameters...) in their declared types.
GVariant* NamedReply(const Operation& op, const Variant& result, std::span<const Variant> args);
// (v result, av byref).
GVariant* InvokeReply(const Operation& op, const Variant& result, std::span<const Variant> args);

}  // namespace qz
