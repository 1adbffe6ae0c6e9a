// The cRegistry table. Clients may not create the class; the table gives its
// interface to the type library.
#include "server/served_classes.h"

namespace qz {
namespace {

using RegistryW = WireType;

ClassDescription MakeRegistryClass() {
  const Param by_ref_strings[] = {{"sApp", RegistryW::kString, true},
                                  {"sSection", RegistryW::kString, true},
                                  {"sKey", RegistryW::kString, true}};
  std::vector<Param> get(std::begin(by_ref_strings), std::end(by_ref_strings));
  get.push_back({"sDefault", RegistryW::kString, true});
  get.push_back({"hKey", RegistryW::kVariant, true, true});
  std::vector<Param> save(std::begin(by_ref_strings), std::end(by_ref_strings));
  save.push_back({"sSetting", RegistryW::kString, true});
  save.push_back({"hKey", RegistryW::kVariant, true, true});
  return {
      "cRegistry",
      kRegistryInterface,
      {},
      {
          {"GetRegSetting", 0x60030004, get, RegistryW::kString},
          {"SaveRegSetting", 0x60030005, save, std::nullopt},
          {"Key", 0x68030001, {{"Key", RegistryW::kInt32}}, std::nullopt, true},
          {"SubKey", 0x68030000, {{"SubKey", RegistryW::kString}}, std::nullopt, true},
          {"gvarEnumerateProfiles", 0x60030007, {}, RegistryW::kVariant},
          {"RegEnumKey",
           0x60030008,
           {{"hKey", RegistryW::kInt32},
            {"i", RegistryW::kInt32},
            {"strKeyName", RegistryW::kString, true}},
           RegistryW::kInt32},
          {"StripTerminator", 0x60030009, {{"strString", RegistryW::kString}}, RegistryW::kString},
      }};
}

}  // namespace

const ClassDescription& RegistryClass() {
  static const ClassDescription table = MakeRegistryClass();
  return table;
}

}  // namespace qz
