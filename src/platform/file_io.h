// Whole-file reads and writes on descriptors, retrying interrupted and short
// transfers. Stateless; safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qz {

// The file's contents from offset 0; nullopt on a read error (a folder, EIO).
std::optional<std::string> ReadAll(int fd);
// The contents of the file at `path`; nullopt when it can't be opened or read.
std::optional<std::string> ReadFileText(const char* path);
// False on any error, such as a full disk.
bool WriteAll(int fd, std::string_view data);

}  // namespace qz
