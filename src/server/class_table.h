// One table per served class: its operations in slot order with dispatch
// identifiers, parameter names and types, and the code each reaches. The
// named D-Bus methods, IDispatch.Invoke, GetIDsOfNames and the introspection
// XML are all driven by these tables, so an operation is added by adding a
// row. Immutable after start-up; safe from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
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
struct ObjectSeat;

// Runs an operation; arguments arrive in parameter order and by-reference
// ones may be changed in place.
using OperationHandler = std::function<Variant(ServedObject&, std::span<Variant> args)>;
// The server's log line for a call that was answered; empty: nothing to say.
using CallLogLine =
    std::function<std::string(std::span<const Variant> args, const Variant& result)>;
// An answer as an outsider may read it.
using AnswerFilter = std::function<Variant(std::span<const Variant> args, const Variant& result)>;
// Builds a new object of the class.
using ObjectFactory = std::function<std::unique_ptr<ServedObject>(const ObjectSeat& seat)>;

struct Operation {
  std::string_view name;
  int32_t dispid;
  std::vector<Param> params;
  std::optional<WireType> result = std::nullopt;  // none: the operation has no result
  bool property_put = false;                      // a write-only property
  OperationHandler run = nullptr;                 // empty: not built yet, answers 445
  CallLogLine log_line = nullptr;
  // Changes the server's settings: its log line names the caller.
  bool changes_settings = false;
  // A notification request: the object keeps it until its run ends.
  bool request = false;
  // What an outsider on the system bus (caller_standing.h) is held to: the
  // answer it may read (empty: the answer as it is), and for a request the
  // argument holding the mail options, whose SMTP server must be allowed.
  AnswerFilter outsider_answer = nullptr;
  std::optional<size_t> mail_options = std::nullopt;

  size_t RequiredParams() const;
};

struct ClassDescription {
  std::string_view class_name;            // "cNotify"
  std::string_view interface;             // its dual interface
  std::vector<std::string_view> aliases;  // further interfaces with the same operations
  std::vector<Operation> operations;
  ObjectFactory make = nullptr;  // empty: clients may not create it
  // Its operations are answered on the factory path too, each by a fresh
  // object that lives until its pending work is done (one-shot callers).
  bool served_on_factory = false;

  const Operation* FindByName(std::string_view name) const;  // ignores case
  const Operation* FindByDispId(int32_t dispid) const;
  bool HasInterface(std::string_view name) const;
  bool creatable() const { return make != nullptr; }
};

}  // namespace qz
