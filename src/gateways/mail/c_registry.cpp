#include "gateways/mail/c_registry.h"

#include <vector>

#include "platform/utf8.h"

namespace qz {
namespace {

RegHandle AsHandle(int32_t key) { return static_cast<RegHandle>(key); }

}  // namespace

void cRegistry::TakeRootAndNormalise(std::string& sApp, std::string& sSection, Variant& hKey) {
  if (hKey.kind() != Variant::Kind::Missing) mlngRootKey = hKey.ToInt32();
  if (sApp.starts_with('\\')) sApp.erase(0, 1);
  if (!sApp.ends_with('\\')) sApp += '\\';
  if (sSection.starts_with('\\')) sSection.erase(0, 1);
}

// The base path is used as it stands: without its own final "\" it runs
// into the application name.
std::string cRegistry::KeyPath(std::string_view sApp, std::string_view sSection) const {
  return mstrSubKey + std::string(sApp) + std::string(sSection);
}

std::string cRegistry::GetRegSetting(std::string& sApp, std::string& sSection, std::string& sKey,
                                     std::string& sDefault, Variant& hKey) {
  TakeRootAndNormalise(sApp, sSection, hKey);
  return GetRegValue(mlngRootKey, KeyPath(sApp, sSection), sKey, sDefault).Text();
}

void cRegistry::SaveRegSetting(std::string& sApp, std::string& sSection, std::string& sKey,
                               std::string& sSetting, Variant& hKey) {
  auto blank = [](std::string_view s) {
    return s.find_first_not_of(' ') == std::string_view::npos;
  };
  if (blank(sKey) || blank(sSection) || blank(sApp)) return;
  TakeRootAndNormalise(sApp, sSection, hKey);
  SetRegValue(mlngRootKey, KeyPath(sApp, sSection), sKey, sSetting);
}

Variant cRegistry::gvarEnumerateProfiles() {
  RegHandle key = 0;
  store_.OpenKey(AsHandle(mlngRootKey), mstrSubKey, key);  // a failed open just finds nothing
  std::vector<Variant> names;
  std::string name;
  for (int32_t i = 0; RegEnumKey(static_cast<int32_t>(key), i, name) == 0; ++i)
    names.emplace_back(name);
  store_.CloseKey(key);
  return Variant::Array(std::move(names));
}

int32_t cRegistry::RegEnumKey(int32_t hKey, int32_t i, std::string& strKeyName) {
  // A buffer of 300 blanks, as the platform call fills it: the name and its
  // terminator in front, the blanks it did not reach after them.
  std::string buffer(kRegNameBuffer, ' ');
  std::string name;
  int32_t code =
      i < 0 ? kRegNoMoreItems
            : store_.EnumKey(AsHandle(hKey), static_cast<uint32_t>(i), kRegNameBuffer, name);
  if (code == kRegOk) {
    size_t filled = Utf8Length(name) + 1;
    buffer = name + '\0' + std::string(kRegNameBuffer - filled, ' ');
  }
  strKeyName = StripTerminator(buffer);
  return code;
}

std::string cRegistry::StripTerminator(std::string_view strString) {
  return std::string(strString.substr(0, strString.find('\0')));
}

Variant cRegistry::GetRegValue(int32_t root, std::string_view path, std::string_view name,
                               std::string_view default_text) {
  try {
    RegHandle key = 0;
    store_.OpenKey(AsHandle(root), path, key);  // not examined: a failed open fails the query
    std::string data;
    int32_t code = store_.QueryValue(key, name, kRegValueBuffer, data);
    store_.CloseKey(key);
    return code != kRegOk ? Variant(default_text) : Variant(std::move(data));
  } catch (...) {
    return Variant(default_text);
  }
}

bool cRegistry::SetRegValue(int32_t root, std::string_view path, std::string_view name,
                            std::string_view text) {
  try {
    RegHandle key = 0;
    store_.CreateKey(AsHandle(root), path, key);
    int32_t code = store_.SetValue(key, name, text);
    store_.CloseKey(key);
    return code == kRegOk;
  } catch (...) {
    return false;
  }
}

}  // namespace qz
