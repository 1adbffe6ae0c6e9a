#include "client/journal_command.h"

namespace qz::client {
namespace {

bool IsBusFlag(std::string_view word) { return word == "--system" || word == "--session"; }

}  // namespace

bool IsJournalCommand(std::span<const std::string_view> words) {
  for (std::string_view word : words) {
    if (IsBusFlag(word)) continue;
    return word == "journal";
  }
  return false;
}

std::optional<JournalCommand> ParseJournal(std::span<const std::string_view> words,
                                           std::string& error) {
  JournalCommand command;
  std::optional<std::string_view> action;
  bool seen_command = false;
  for (size_t i = 0; i < words.size(); ++i) {
    std::string_view word = words[i];
    if (word == "--system" || word == "--session") {
      command.system = word == "--system";
    } else if (word == "--help" || word == "-h") {
      command.action = JournalCommand::Action::kHelp;
      return command;
    } else if (word == "--folder" || word.starts_with("--folder=")) {
      std::string_view value =
          word.substr(std::min(word.size(), std::string_view("--folder=").size()));
      if (word == "--folder") value = i + 1 < words.size() ? words[++i] : std::string_view();
      if (value.empty()) {
        error = "--folder needs a folder";
        return std::nullopt;
      }
      command.folder = std::string(value);
    } else if (word.starts_with("-")) {
      error = "journal has no option " + std::string(word);
      return std::nullopt;
    } else if (!seen_command) {
      seen_command = true;  // "journal" itself
    } else if (!action) {
      action = word;
    } else {
      error = "unexpected " + std::string(word);
      return std::nullopt;
    }
  }
  if (!action || *action == "list") {
    command.action = JournalCommand::Action::kList;
  } else if (*action == "clear") {
    command.action = JournalCommand::Action::kClear;
  } else {
    error = "journal has no action " + std::string(*action) + " (list, clear)";
    return std::nullopt;
  }
  return command;
}

std::string_view JournalHelp() {
  return R"txt(Usage: qznotes [--system] journal [list|clear] [--folder DIR]

The server's request journal: requests it answered "Notes Server: Asynch mode"
whose runs have not ended. A daemon that starts delivers what an earlier one
left there. Read from the program folder directly, so it works while the
daemon is down.

list     the requests left, file by file (default)
clear    removes every file no running daemon holds: its requests are dropped

  --folder DIR   the program folder (default: QZNOTES_FOLDER, else the folder
                 of the installed programs; with --system the system daemon's)

The system daemon's journal is readable by root only. Exit status: 0 done;
1 a running daemon holds a file clear left; 2 usage errors or a folder that
cannot be read.
)txt";
}

}  // namespace qz::client
