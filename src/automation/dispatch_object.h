// The late-bound interface of every component and callback party: properties
// and methods reached by name with Variant arguments. Names match without
// regard to case. A member an object does not have raises 438.
// Objects are used on the thread of the apartment that created them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "automation/variant.h"

namespace qz {

// Where another process run can reach an object again. A well-known bus
// name may change hands: `owner_uid` is the Unix user its owner must be
// when the name is called (nothing: whoever owns it).
struct BusReference {
  std::string bus_name;
  std::string path;
  std::optional<uint32_t> owner_uid;
};

class DispatchObject {
 public:
  virtual ~DispatchObject() = default;

  virtual Variant GetProperty(std::string_view name);
  virtual void SetProperty(std::string_view name, const Variant& value);
  // Arguments are passed by reference: the callee may change them and the
  // caller sees the change, as with by-reference parameters.
  virtual Variant CallMethod(std::string_view name, std::span<Variant> args);

  // For requests kept across a restart; nothing by default.
  virtual std::optional<BusReference> BusAddress() const { return std::nullopt; }
};

}  // namespace qz
