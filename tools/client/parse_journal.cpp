#include "client/command_parsers.h"

namespace qz::client {

Command ParseJournal(OptionSet& options, CommandWords in) {
  JournalCommand journal;
  options.Value("folder", 0, [&](std::string value) {
    if (value.empty()) options.Fail("--folder needs a folder");
    journal.folder = std::move(value);
  });
  options.Flag("failed", 0, [&] { journal.failed = true; });
  options.Flag("all", 0, [&] { journal.all = true; });
  const std::vector<std::string> words = options.Parse(in);
  journal.system = options.global().bus == BusKind::kSystem;
  if (options.failed() || options.help()) return journal;
  const bool retry = !words.empty() && words[0] == "retry";
  if (retry && words.size() == 2 && !journal.all) journal.id = words[1];
  if (words.size() > (retry && !journal.id.empty() ? 2 : 1)) {
    options.Fail("journal takes one action, not " + words.back());
  } else if (words.empty() || words[0] == "list") {
    journal.action = JournalCommand::Action::kList;
  } else if (words[0] == "clear") {
    journal.action = JournalCommand::Action::kClear;
  } else if (retry) {
    journal.action = JournalCommand::Action::kRetry;
    if (journal.id.empty() && !journal.all) options.Fail("journal retry needs an ID or --all");
  } else {
    options.Fail("journal has no action " + words[0] + " (list, clear, retry)");
  }
  if (journal.all && !retry) options.Fail("--all goes with journal retry");
  if (journal.failed && retry) options.Fail("journal retry sends failed requests; drop --failed");
  return journal;
}

}  // namespace qz::client
