#include <glib.h>

#include <array>

#include "client/command_parsers.h"

namespace qz::client {
namespace {

constexpr std::array<std::string_view, 3> kClasses = {"cNotify", "cPager", "cRegistry"};

// Accepts "cNotify" or "QzNotes.cNotify" in any letter case; cRegistry is
// let through so the server's own refusal can be seen.
std::string CanonicalClass(std::string_view text) {
  constexpr std::string_view kLibrary = "QzNotes.";
  if (text.size() > kLibrary.size() &&
      g_ascii_strncasecmp(text.data(), kLibrary.data(), kLibrary.size()) == 0)
    text.remove_prefix(kLibrary.size());
  for (std::string_view c : kClasses) {
    if (c.size() == text.size() && g_ascii_strncasecmp(c.data(), text.data(), c.size()) == 0)
      return std::string(c);
  }
  return "";
}

}  // namespace

Command ParseCall(OptionReader& reader, GlobalOptions& global) {
  CallCommand call;
  std::string value;
  // Options come before the operation: after it, "-1" or "--x" are arguments.
  while (!reader.AtEnd() && !reader.failed() && reader.AtOption()) {
    if (TakeGlobalOption(reader, global)) continue;
    if (reader.Flag({"--help", "-h"})) return HelpCommand{"call"};
    if (reader.Flag({"--"})) break;
    if (reader.Value({"--class", "-c"}, value)) {
      call.class_name = CanonicalClass(value);
      if (call.class_name.empty()) reader.Fail("no class " + value + " (cNotify, cPager)");
      continue;
    }
    reader.Fail("call has no option " + std::string(reader.Current()));
  }
  if (reader.failed()) return call;
  if (reader.AtEnd()) {
    reader.Fail("call needs an operation name or dispatch identifier");
    return call;
  }
  call.operation = reader.Take();
  while (!reader.AtEnd()) call.arguments.emplace_back(reader.Take());
  return call;
}

}  // namespace qz::client
