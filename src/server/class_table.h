// One table per served class: its operations in slot order with dispatch
// identifiers, parameter names and types, and the code each reaches. The
// named D-Bus methods, IDispatch.Invoke, GetIDsOfNames and the introspection
// XML are all driven by these tables, so an operation is added by adding a
// row. Immutable after start-up; safe from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "automation/variant.h"
#include "contract/contract.h"

namespace qz {

enum class WireType { kVariant, kObject, kString, kInt16, kInt32, kBoolean };

struct Param {
  std::string_view name;
  WireType type;
  bool by_ref = false;
  bool optional = false;
};

class ServedObject;

// Runs an operation; arguments arrive in parameter order and by-reference
// ones may be changed in place.
using OperationHandler = std::function<Variant(ServedObject&, std::span<Variant> args)>;

struct Operation {
  std::string_view name;
  int32_t dispid;
  std::vector<Param> params;
  std::optional<WireType> result = std::nullopt;  // none: the operation has no result
  bool property_put = false;       // a write-only property
  OperationHandler run = nullptr;  // empty: not built yet, answers 445

  size_t RequiredParams() const;
};

struct ClassDescription {
  std::string_view class_name;        // "cNotify"
  std::string_view interface;         // its dual interface
  std::vector<std::string_view> aliases;  // further interfaces with the same operations
  bool creatable;
  std::vector<Operation> operations;

  const Operation* FindByName(std::string_view name) const;  // ignores case
  const Operation* FindByDispId(int32_t dispid) const;
  bool HasInterface(std::string_view name) const;
};

const ClassDescription& NotifyClass();
const ClassDescription& PagerClass();
const ClassDescription& RegistryClass();
std::span<const ClassDescription* const> AllClasses();

// The class a program identifier ("QzNotes.cNotify") names, creatable or
// not; null for an unknown identifier.
const ClassDescription* FindClass(std::string_view progid);

}  // namespace qz
