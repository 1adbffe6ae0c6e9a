// What a gateway keeps in the object it runs for between calls: its
// initialisation step fills it and its channel reads it (the SMS gateway: the
// fourteen settings it loaded). Each gateway keeps a value of a type of its
// own; the object holds them without knowing any. Owned by one object and
// touched only on its apartment's thread.
#pragma once

#include <memory>
#include <stdexcept>
#include <type_traits>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>

namespace qz {

// The kept values of one object, one per type, each made value-initialised
// on first use and kept as long as the object.
class GatewayStates {
 public:
  template <class T>
  T& Get() {
    std::shared_ptr<void>& slot = values_[std::type_index(typeid(T))];
    if (!slot) slot = std::make_shared<T>();
    return *static_cast<T*>(slot.get());
  }

 private:
  std::unordered_map<std::type_index, std::shared_ptr<void>> values_;
};

// How a ChannelCall reaches the kept values: those of the object it runs for,
// or, for a caller that runs one gateway on its own, that gateway's value.
class GatewayState {
 public:
  GatewayState(GatewayStates& all) : all_(&all) {}  // NOLINT: a call carries the object's values
  template <class T>
  requires(!std::is_same_v<T, GatewayStates> && !std::is_same_v<T, GatewayState> &&
           !std::is_const_v<T>) GatewayState(T& only)
      : only_(&only), only_type_(&typeid(T)) {}  // NOLINT: as above

  template <class T>
  T& Get() const {
    if (all_) return all_->Get<T>();
    // A caller that handed one value runs only the gateway that keeps it.
    if (*only_type_ != typeid(T)) throw std::logic_error("no kept value of this gateway's type");
    return *static_cast<T*>(only_);
  }

 private:
  GatewayStates* all_ = nullptr;
  void* only_ = nullptr;
  const std::type_info* only_type_ = nullptr;
};

}  // namespace qz
