// The cRegistry table. Clients may not create the class; the table gives its
// interface to the type library.
#include "server/served_classes.h"

namespace qz {
namespace {

using W = WireType;

ClassDescription MakeRegistryClass() {
  const Param by_ref_strings[] = {
      {"sApp", W::kString, true}, {"sSection", W::kString, true}, {"sKey", W::kString, true}};
  std::vector<Param> get(std::begin(by_ref_strings), std::end(by_ref_strings));
  get.push_back({"sDefault", W::kString, true});
  get.push_back({"hKey", W::kVariant, true, true});
  std::vector<Param> save(std::begin(by_ref_strings), std::end(by_ref_strings));
  save.push_back({"sSetting", W::kString, true});
  save.push_back({"hKey", W::kVariant, true, true});
  return {"cRegistry",
          kRegistryInterface,
          {},
          {
              {"GetRegSetting", 0x60030004, get, W::kString},
              {"SaveRegSetting", 0x60030005, save, std::nullopt},
              {"Key", 0x68030001, {{"Key", W::kInt32}}, std::nullopt, true},
              {"SubKey", 0x68030000, {{"SubKey", W::kString}}, std::nullopt, true},
              {"gvarEnumerateProfiles", 0x60030007, {}, W::kVariant},
              {"RegEnumKey",
               0x60030008,
               {{"hKey", W::kInt32}, {"i", W::kInt32}, {"strKeyName", W::kString, true}},
               W::kInt32},
              {"StripTerminator", 0x60030009, {{"strString", W::kString}}, W::kString},
          }};
}

}  // namespace

const ClassDescription& RegistryClass() {
  static const ClassDescription table = MakeRegistryClass();
  return table;
}

}  // namespace qz
