#include <charconv>
#include <cstdint>

#include "client/command_parsers.h"
#include "client/gateway_words.h"

namespace qz::client {
namespace {

bool ParseInt(std::string_view text, int low, int high, int& out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size() && out >= low && out <= high;
}

}  // namespace

Command ParseTestGateway(OptionSet& options, CommandWords in) {
  TestGatewayCommand test;
  options.Value("timeout", 0, [&](std::string value) {
    if (!ParseInt(value, 1, 86400, test.timeout_seconds))
      options.Fail("--timeout takes whole seconds from 1 to 86400");
  });
  const std::vector<std::string> words = options.Parse(in);
  if (options.failed() || options.help()) return test;
  if (words.size() != 2) {
    options.Fail("test-gateway takes INDEX and NUMBER");
  } else if (!ParseInt(words[0], INT16_MIN, INT16_MAX, test.index)) {
    options.Fail("INDEX must be a whole number (" +
                 GatewaysOr([](const PagingGateway& g) { return std::to_string(g.number); }) +
                 "), not " + words[0]);
  } else {
    test.number = words[1];
  }
  return test;
}

}  // namespace qz::client
