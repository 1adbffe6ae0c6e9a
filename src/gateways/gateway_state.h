// What a gateway keeps in the object it runs for between calls: its
// initialisation step fills it and its channel reads it (the SMS gateway: the
// fourteen settings it loaded). Each gateway keeps a value of a type of its
// own; the object holds them without knowing any. Owned by one object and
// touched only on its apartment's thread.
#pragma once

#include <memory>
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

}  // namespace qz
