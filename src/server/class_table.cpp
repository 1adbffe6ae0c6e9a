#include "server/class_table.h"

#include "automation/names.h"

namespace qz {

size_t Operation::RequiredParams() const {
  size_t required = params.size();
  while (required > 0 && params[required - 1].optional) --required;
  return required;
}

const Operation* ClassDescription::FindByName(std::string_view name) const {
  for (const Operation& op : operations)
    if (AsciiCaseEqual(op.name, name)) return &op;
  return nullptr;
}

const Operation* ClassDescription::FindByDispId(int32_t dispid) const {
  for (const Operation& op : operations)
    if (op.dispid == dispid) return &op;
  return nullptr;
}

bool ClassDescription::HasInterface(std::string_view name) const {
  if (name == interface) return true;
  for (std::string_view alias : aliases)
    if (name == alias) return true;
  return false;
}

}  // namespace qz
