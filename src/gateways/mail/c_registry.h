// cRegistry: a root key and a base key path over the registry store, string
// values read with a default and written, and the names of the base key's
// sub-keys. Only the server creates it (GetMessageProfiles). A plain object:
// one thread at a time; the store it uses is safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "automation/variant.h"
#include "platform/registry_store.h"

namespace qz {

inline constexpr std::string_view kDefaultRegistryBase = "Software\\VB and VBA Program Settings\\";
inline constexpr size_t kRegValueBuffer = 255;  // so values of 254 characters at most are read
inline constexpr size_t kRegNameBuffer = 300;

class cRegistry {
 public:
  explicit cRegistry(RegistryStore& store) : store_(store) {}

  // `hKey` is Missing when the caller left it out; given, it becomes the
  // root key of this and every later call. `sApp` and `sSection` come back
  // normalised. Errors are not trapped here: they reach the caller.
  std::string GetRegSetting(std::string& sApp, std::string& sSection, std::string& sKey,
                            std::string& sDefault, Variant& hKey);
  void SaveRegSetting(std::string& sApp, std::string& sSection, std::string& sKey,
                      std::string& sSetting, Variant& hKey);
  void Key(int32_t lhKey) { mlngRootKey = lhKey; }
  void SubKey(std::string_view lsSubKey) { mstrSubKey = lsSubKey; }
  Variant gvarEnumerateProfiles();
  int32_t RegEnumKey(int32_t hKey, int32_t i, std::string& strKeyName);
  std::string StripTerminator(std::string_view strString);

 private:
  void TakeRootAndNormalise(std::string& sApp, std::string& sSection, Variant& hKey);
  std::string KeyPath(std::string_view sApp, std::string_view sSection) const;
  Variant GetRegValue(int32_t root, std::string_view path, std::string_view name,
                      std::string_view default_text);
  bool SetRegValue(int32_t root, std::string_view path, std::string_view name,
                   std::string_view text);

  RegistryStore& store_;
  int32_t mlngRootKey = static_cast<int32_t>(kHkeyCurrentUser);
  std::string mstrSubKey{kDefaultRegistryBase};
};

}  // namespace qz
