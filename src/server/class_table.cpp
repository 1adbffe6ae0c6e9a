#include "server/class_table.h"

#include <array>

#include "automation/names.h"
#include "server/served_object.h"

namespace qz {

size_t Operation::RequiredParams() const {
  size_t required = params.size();
  while (required > 0 && params[required - 1].optional) --required;
  return required;
}

const Operation* ClassDescription::FindByName(std::string_view name) const {
  for (const Operation& op : operations)
    if (NamesEqual(op.name, name)) return &op;
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

namespace {

using W = WireType;

cPager& Pager(ServedObject& object) { return static_cast<PagerObject&>(object).pager(); }

ClassDescription MakePagerClass() {
  return {"cPager", "org.qznotes.QzNotes._cPager", {}, true,
          {
              {"Connect", 0x60030005, {}, W::kBoolean, false,
               [](ServedObject& o, std::span<Variant>) { return Variant::Boolean(Pager(o).Connect()); }},
              {"SendPage", 0x60030006, {{"lstrPage", W::kString}, {"lstrMessage", W::kString}}, W::kBoolean,
               false,
               [](ServedObject& o, std::span<Variant> a) {
                 return Variant::Boolean(Pager(o).SendPage(a[0].Text(), a[1].Text()));
               }},
              {"IsSocketConnected", 0x6003000A, {}, W::kBoolean, false,
               [](ServedObject& o, std::span<Variant>) { return Variant::Boolean(Pager(o).IsSocketConnected()); }},
          }};
}

ClassDescription MakeRegistryClass() {
  const Param by_ref_strings[] = {{"sApp", W::kString, true}, {"sSection", W::kString, true},
                                  {"sKey", W::kString, true}};
  std::vector<Param> get(std::begin(by_ref_strings), std::end(by_ref_strings));
  get.push_back({"sDefault", W::kString, true});
  get.push_back({"hKey", W::kVariant, true, true});
  std::vector<Param> save(std::begin(by_ref_strings), std::end(by_ref_strings));
  save.push_back({"sSetting", W::kString, true});
  save.push_back({"hKey", W::kVariant, true, true});
  return {"cRegistry", "org.qznotes.QzNotes._cRegistry", {}, false,
          {
              {"GetRegSetting", 0x60030004, get, W::kString},
              {"SaveRegSetting", 0x60030005, save, std::nullopt},
              {"Key", 0x68030001, {{"Key", W::kInt32}}, std::nullopt, true},
              {"SubKey", 0x68030000, {{"SubKey", W::kString}}, std::nullopt, true},
              {"gvarEnumerateProfiles", 0x60030007, {}, W::kVariant},
              {"RegEnumKey", 0x60030008,
               {{"hKey", W::kInt32}, {"i", W::kInt32}, {"strKeyName", W::kString, true}}, W::kInt32},
              {"StripTerminator", 0x60030009, {{"strString", W::kString}}, W::kString},
          }};
}

}  // namespace

const ClassDescription& NotifyClass() {
  static const ClassDescription table = MakeNotifyClass();
  return table;
}

const ClassDescription& PagerClass() {
  static const ClassDescription table = MakePagerClass();
  return table;
}

const ClassDescription& RegistryClass() {
  static const ClassDescription table = MakeRegistryClass();
  return table;
}

std::span<const ClassDescription* const> AllClasses() {
  static const std::array<const ClassDescription*, 3> all = {&NotifyClass(), &RegistryClass(), &PagerClass()};
  return all;
}

const ClassDescription* FindClass(std::string_view progid) {
  for (const ClassDescription* c : AllClasses()) {
    std::string full = std::string(kLibraryName) + "." + std::string(c->class_name);
    if (NamesEqual(full, progid)) return c;
  }
  return nullptr;
}

}  // namespace qz
