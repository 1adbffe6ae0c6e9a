#include "server/served_classes.h"

#include <array>
#include <string>

#include "automation/names.h"

namespace qz {

std::span<const ClassDescription* const> AllClasses() {
  static const std::array<const ClassDescription*, 3> all = {&NotifyClass(), &RegistryClass(),
                                                             &PagerClass()};
  return all;
}

const ClassDescription* FindClass(std::string_view progid) {
  for (const ClassDescription* c : AllClasses()) {
    std::string full = std::string(kLibraryName) + "." + std::string(c->class_name);
    if (AsciiCaseEqual(full, progid)) return c;
  }
  return nullptr;
}

const ClassDescription* FactoryServedClass(std::string_view interface) {
  for (const ClassDescription* c : AllClasses())
    if (c->served_on_factory && c->HasInterface(interface)) return c;
  return nullptr;
}

const ClassDescription* FactoryInvokeClass() {
  for (const ClassDescription* c : AllClasses())
    if (c->served_on_factory) return c;
  return nullptr;
}

}  // namespace qz
