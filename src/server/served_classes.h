// Every class the server serves, each described by its own table, which is
// defined next to the operations it reaches (one *_operations.cpp a class).
// Serving a new class takes its file and one entry in served_classes.cpp.
// Immutable after start-up; safe from any thread.
#pragma once

#include <span>
#include <string_view>

#include "server/class_table.h"

namespace qz {

const ClassDescription& NotifyClass();
const ClassDescription& PagerClass();
const ClassDescription& RegistryClass();

std::span<const ClassDescription* const> AllClasses();

// The class a program identifier ("QzNotes.cNotify") names, creatable or
// not; null for an unknown identifier.
const ClassDescription* FindClass(std::string_view progid);

// The class whose operations the factory path answers under `interface`.
const ClassDescription* FactoryServedClass(std::string_view interface);
// The class whose operations IDispatch.Invoke reaches on the factory path
// (the first served there); null when none is.
const ClassDescription* FactoryInvokeClass();

}  // namespace qz
