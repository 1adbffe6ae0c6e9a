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

void ChooseClass(OptionSet& options, CallCommand& call, const std::string& text) {
  call.class_name = CanonicalClass(text);
  if (call.class_name.empty()) options.Fail("no class " + text + " (cNotify, cPager)");
}

}  // namespace

Command ParseCall(OptionSet& options, CommandWords in) {
  CallCommand call;
  options.Value("class", 'c', [&](std::string value) { ChooseClass(options, call, value); });
  options.Flag("list", 'l', [&] { call.list = true; });
  // Options come before the operation: after it, "-1" or "--x" are arguments.
  options.StopAtFirstWord();
  std::vector<std::string> words = options.Parse(in);
  if (options.failed() || options.help()) return call;
  if (call.list) {
    if (words.size() > 1) {
      options.Fail("call --list takes at most a class");
    } else if (!words.empty()) {
      ChooseClass(options, call, words[0]);
    }
    return call;
  }
  if (words.empty()) {
    options.Fail("call needs an operation name or dispatch identifier");
    return call;
  }
  call.operation = words[0];
  call.arguments.assign(words.begin() + 1, words.end());
  return call;
}

}  // namespace qz::client
