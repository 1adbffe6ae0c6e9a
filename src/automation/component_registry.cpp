#include "automation/component_registry.h"

#include <mutex>

#include "automation/names.h"
#include "automation/run_time_error.h"

namespace qz {

void ComponentRegistry::Register(std::string_view id, ComponentFactory factory) {
  std::unique_lock lock(mutex_);
  factories_[FoldName(id)] = std::move(factory);
}

void ComponentRegistry::Unregister(std::string_view id) {
  std::unique_lock lock(mutex_);
  factories_.erase(FoldName(id));
}

std::shared_ptr<DispatchObject> ComponentRegistry::Create(std::string_view id,
                                                          std::string_view host) const {
  ComponentFactory factory;
  {
    std::shared_lock lock(mutex_);
    auto it = factories_.find(FoldName(id));
    if (it != factories_.end()) factory = it->second;
  }
  // The factory runs unlocked: it may itself create components.
  std::shared_ptr<DispatchObject> object = factory ? factory(host) : nullptr;
  if (!object) throw RunTimeError(kErrCannotCreate);
  return object;
}

}  // namespace qz
