#include "client/command_parsers.h"
#include "http/token_store.h"

namespace qz::client {

Command ParseTokens(OptionSet& options, CommandWords in) {
  TokensCommand tokens;
  std::optional<std::string> rights;
  options.Value("folder", 0, [&](std::string value) {
    if (value.empty()) options.Fail("--folder needs a folder");
    tokens.folder = std::move(value);
  });
  options.Value("rights", 0, [&](std::string value) { rights = std::move(value); });
  const std::vector<std::string> words = options.Parse(in);
  tokens.system = options.global().bus == BusKind::kSystem;
  if (options.failed() || options.help()) return tokens;
  const std::string action = words.empty() ? "list" : words[0];
  const size_t wanted = action == "list" ? 1 : 2;
  if (action == "add") {
    tokens.action = TokensCommand::Action::kAdd;
  } else if (action == "remove") {
    tokens.action = TokensCommand::Action::kRemove;
  } else if (action != "list") {
    options.Fail("tokens has no action " + action + " (list, add, remove)");
    return tokens;
  }
  if (wanted == 2 && words.size() < 2) {
    options.Fail("tokens " + action + " needs a NAME");
  } else if (words.size() > wanted) {
    options.Fail("tokens " + action + " takes no " + words[wanted]);
  } else if (wanted == 2) {
    tokens.name = words[1];
    if (!IsTokenName(tokens.name))
      options.Fail("a token NAME is 1 to 64 letters, digits, '-', '_' or '.'");
  }
  if (tokens.action == TokensCommand::Action::kAdd) {
    const std::optional<unsigned> parsed = rights ? ParseRights(*rights) : std::nullopt;
    if (!rights)
      options.Fail("tokens add needs --rights (send,test,read,settings,journal)");
    else if (!parsed || *parsed == 0)
      options.Fail("--rights takes send, test, read, settings or journal, comma-separated");
    else
      tokens.rights = *parsed;
  } else if (rights) {
    options.Fail("--rights goes with tokens add");
  }
  return tokens;
}

}  // namespace qz::client
