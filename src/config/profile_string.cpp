#include "config/profile_string.h"

#include <optional>

#include "diagnostics/reraise.h"
#include "platform/ini_file.h"
#include "platform/utf8.h"

namespace qz {
namespace {

// The read takes its texts as C strings would: up to the first NUL.
std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

}  // namespace

bool mblnGetPrivateProfileString(std::string_view lstrFile, std::string_view lstrSection,
                                 std::string_view lstrKey, std::string& lstrValue) {
  try {
    // Pending events are not processed here: calls never nest on a thread.
    std::optional<std::string> value =
        IniFile(std::string(UpToNul(lstrFile))).Read(UpToNul(lstrSection), UpToNul(lstrKey));
    std::string_view text = value ? UpToNul(*value) : std::string_view();
    lstrValue.assign(text.substr(0, Utf8PrefixBytes(text, kProfileValueChars)));
    return true;
  } catch (...) {
    ReRaiseWithSource("cNotify:mblnGetPrivateProfileString");
  }
}

bool mblnWritePrivateProfileString(std::string_view lstrFile, std::string_view lstrSection,
                                   std::string_view lstrKey, std::string_view lstrValue) {
  try {
    if (lstrFile.find('\0') != lstrFile.npos) return false;
    return IniFile(std::string(lstrFile)).Write(lstrSection, lstrKey, lstrValue).ok();
  } catch (...) {
    ReRaiseWithSource("cNotify:mblnWritePrivateProfileString");
  }
}

bool mblnWritePrivateProfileString(const FolderEntry& lstrFile, std::string_view lstrSection,
                                   std::string_view lstrKey, std::string_view lstrValue,
                                   Status* why) {
  try {
    Status status = IniFile(lstrFile).Write(lstrSection, lstrKey, lstrValue);
    const bool written = status.ok();
    if (why) *why = std::move(status);
    return written;
  } catch (...) {
    ReRaiseWithSource("cNotify:mblnWritePrivateProfileString");
  }
}

}  // namespace qz
