#include <charconv>

#include "client/command_parsers.h"

namespace qz::client {

Command ParseWatch(OptionReader& reader, GlobalOptions& global) {
  WatchCommand watch;
  std::string value;
  while (!reader.AtEnd() && !reader.failed()) {
    if (TakeGlobalOption(reader, global)) continue;
    if (reader.Flag({"--help", "-h"})) return HelpCommand{"watch"};
    if (reader.Value({"--count"}, value)) {
      const char* end = value.data() + value.size();
      auto [stop, ec] = std::from_chars(value.data(), end, watch.count);
      if (ec != std::errc() || stop != end || watch.count < 1)
        reader.Fail("--count takes a whole number from 1, not " + value);
      continue;
    }
    reader.Fail("watch has no " + std::string(reader.AtOption() ? "option " : "argument ") +
                std::string(reader.Current()));
  }
  return watch;
}

}  // namespace qz::client
