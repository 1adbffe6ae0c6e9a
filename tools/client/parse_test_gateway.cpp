#include <charconv>

#include "client/command_parsers.h"

namespace qz::client {
namespace {

bool ParseInt(std::string_view text, int low, int high, int& out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && out >= low && out <= high;
}

}  // namespace

Command ParseTestGateway(OptionReader& reader, GlobalOptions& global) {
  TestGatewayCommand test;
  std::vector<std::string> words;
  std::string value;
  while (!reader.AtEnd() && !reader.failed()) {
    if (reader.AtOption()) {
      if (TakeGlobalOption(reader, global)) continue;
      if (reader.Flag({"--help", "-h"})) return HelpCommand{"test-gateway"};
      if (reader.Value({"--timeout"}, value)) {
        if (!ParseInt(value, 1, 86400, test.timeout_seconds))
          reader.Fail("--timeout takes whole seconds from 1 to 86400");
        continue;
      }
      if (reader.Flag({"--"})) {
        while (!reader.AtEnd()) words.emplace_back(reader.Take());
        break;
      }
      reader.Fail("test-gateway has no option " + std::string(reader.Current()));
      break;
    }
    words.emplace_back(reader.Take());
  }
  if (reader.failed()) return test;
  if (words.size() != 2) {
    reader.Fail("test-gateway takes INDEX and NUMBER");
  } else if (!ParseInt(words[0], INT16_MIN, INT16_MAX, test.index)) {
    reader.Fail("INDEX must be a whole number (0, 1 or 2), not " + words[0]);
  } else {
    test.number = words[1];
  }
  return test;
}

}  // namespace qz::client
