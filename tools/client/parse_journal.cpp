#include "client/command_parsers.h"

namespace qz::client {

Command ParseJournal(OptionSet& options, CommandWords in) {
  JournalCommand journal;
  options.Value("folder", 0, [&](std::string value) {
    if (value.empty()) options.Fail("--folder needs a folder");
    journal.folder = std::move(value);
  });
  const std::vector<std::string> words = options.Parse(in);
  journal.system = options.global().bus == BusKind::kSystem;
  if (options.failed() || options.help()) return journal;
  if (words.size() > 1) {
    options.Fail("journal takes one action, not " + words[1]);
  } else if (words.empty() || words[0] == "list") {
    journal.action = JournalCommand::Action::kList;
  } else if (words[0] == "clear") {
    journal.action = JournalCommand::Action::kClear;
  } else {
    options.Fail("journal has no action " + words[0] + " (list, clear)");
  }
  return journal;
}

}  // namespace qz::client
