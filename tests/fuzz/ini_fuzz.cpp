// Settings files as an administrator or a crashed editor left them: a read
// through the file agrees with the one-pass lookup, and a value the editor
// stores reads back unchanged, whatever else the file holds.
#include <sys/mman.h>
#include <unistd.h>

#include <fuzzer/FuzzedDataProvider.h>
#include <cstdint>
#include <string>

#include "config/profile_string.h"
#include "platform/ini_document.h"
#include "platform/ini_lookup.h"
#include "platform/ini_syntax.h"
#include "platform/unique_fd.h"
#include "platform/utf8.h"

namespace {

// The file the reads open: in memory, so a run never touches the disk.
std::string ProfileInMemory(std::string_view text, qz::UniqueFd& fd) {
  fd = qz::UniqueFd(::memfd_create("ini_fuzz", 0));
  if (!fd || ::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()))
    __builtin_trap();
  return "/proc/self/fd/" + std::to_string(fd.get());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string section = input.ConsumeRandomLengthString(32);
  const std::string key = input.ConsumeRandomLengthString(32);
  const std::string value = input.ConsumeRandomLengthString(128);
  const std::string text = input.ConsumeRemainingBytesAsString();

  std::string_view rest = text;
  while (!rest.empty()) qz::ini::ParseLine(qz::ini::NextLine(rest).text);

  qz::UniqueFd fd;
  const std::string path = ProfileInMemory(text, fd);
  std::string read;
  if (!qz::mblnGetPrivateProfileString(path, section, key, read)) __builtin_trap();
  if (qz::Utf8Length(read) > qz::kProfileValueChars) __builtin_trap();
  if (section.find('\0') == std::string::npos && key.find('\0') == std::string::npos) {
    const std::string found(qz::ini::FindValue(text, section, key).value_or(""));
    if (found.compare(0, read.size(), read) != 0) __builtin_trap();
  }

  if (qz::ini::IsStorableSection(section) && qz::ini::IsStorableKey(key) &&
      qz::ini::IsStorableValue(value)) {
    qz::ini::IniDocument document(text);
    document.Set(section, key, value);
    if (qz::ini::FindValue(document.Text(), section, key) != std::optional<std::string_view>(value))
      __builtin_trap();
  }
  return 0;
}
