#include <charconv>

#include "client/command_parsers.h"

namespace qz::client {

Command ParseWatch(OptionSet& options, CommandWords in) {
  WatchCommand watch;
  options.Value("count", 0, [&](std::string value) {
    const char* end = value.data() + value.size();
    auto [stop, ec] = std::from_chars(value.data(), end, watch.count);
    if (ec != std::errc() || stop != end || watch.count < 1)
      options.Fail("--count takes a whole number from 1, not " + value);
  });
  const std::vector<std::string> words = options.Parse(in);
  if (options.failed() || options.help()) return watch;
  if (!words.empty()) options.Fail("watch takes no argument, not " + words[0]);
  return watch;
}

}  // namespace qz::client
