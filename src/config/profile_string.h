// Single-value access to the settings files: the only way the system reads
// or writes a settings value. Each call opens and scans the file; nothing is
// cached and no state is kept, so any thread may call them.
#pragma once

#include <string>
#include <string_view>

#include "platform/folder_entry.h"
#include "platform/status.h"

namespace qz {

// Values longer than this many characters read as their first this many.
inline constexpr size_t kProfileValueChars = 99;

// Reads one value into `lstrValue`: at most 99 characters (code points),
// and the empty text for a missing file, section or key. Answers true
// whenever it completes; a run-time error is raised again with the source
// "cNotify:mblnGetPrivateProfileString".
bool mblnGetPrivateProfileString(std::string_view lstrFile, std::string_view lstrSection,
                                 std::string_view lstrKey, std::string& lstrValue);

// Writes one value, creating the file if it is missing. A write the file
// refuses (read-only, a folder, a full disk, a name or value the format
// can't hold) answers false; a run-time error is raised again with the
// source "cNotify:mblnWritePrivateProfileString".
bool mblnWritePrivateProfileString(std::string_view lstrFile, std::string_view lstrSection,
                                   std::string_view lstrKey, std::string_view lstrValue);
// The same into a file resolved in the program folder (path_confinement.h),
// written exactly there; `why`, when given, says why a write answered false.
bool mblnWritePrivateProfileString(const FolderEntry& lstrFile, std::string_view lstrSection,
                                   std::string_view lstrKey, std::string_view lstrValue,
                                   Status* why = nullptr);

}  // namespace qz
