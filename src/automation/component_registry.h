// Maps program identifiers (and class identifiers) to the factories of the
// components the server creates late-bound. Lookups ignore case. Creating an
// identifier nobody registered raises 429, like a component that is not
// installed. Safe from any thread.
#pragma once

#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "automation/dispatch_object.h"

namespace qz {

// Builds one instance; `host` is the machine the caller named (empty: this one).
using ComponentFactory = std::function<std::shared_ptr<DispatchObject>(std::string_view host)>;

class ComponentRegistry {
 public:
  void Register(std::string_view id, ComponentFactory factory);
  void Unregister(std::string_view id);
  // Raises 429 when `id` is unknown or its factory yields nothing; errors the
  // factory raises pass through.
  std::shared_ptr<DispatchObject> Create(std::string_view id, std::string_view host = {}) const;

 private:
  mutable std::shared_mutex mutex_;
  std::unordered_map<std::string, ComponentFactory> factories_;
};

}  // namespace qz
