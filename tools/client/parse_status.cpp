#include "client/command_parsers.h"

namespace qz::client {

Command ParseStatus(OptionSet& options, CommandWords in) {
  const std::vector<std::string> words = options.Parse(in);
  if (!options.failed() && !options.help() && !words.empty())
    options.Fail("status takes no argument, not " + words[0]);
  return StatusCommand{};
}

}  // namespace qz::client
