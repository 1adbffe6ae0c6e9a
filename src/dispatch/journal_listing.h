// What an operator sees of the request journal and how it is cleared, with
// or without a daemon running: the files of the journal folder, whether a
// running daemon holds each, and the requests left in them. A file a running
// daemon holds is never touched. Stateless; safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "dispatch/request_record.h"
#include "platform/status.h"

namespace qz {

struct JournalFileReport {
  std::string name;
  bool in_use = false;  // a running daemon holds it
  bool torn = false;    // ends in a record a crash cut short (ignored)
  bool recognised = true;
  std::vector<RequestRecord> requests;
  size_t unreadable = 0;  // entries written by another version
};

// Nothing, with `status` saying why, when the folder cannot be read; an
// empty list when there is no journal folder.
std::optional<std::vector<JournalFileReport>> ListJournal(const std::string& program_folder,
                                                          Status& status);

struct JournalClearing {
  size_t files_removed = 0;
  size_t requests_removed = 0;
  std::vector<std::string> in_use;  // files left because a daemon holds them
  Status status;                    // why the clearing stopped short
};

JournalClearing ClearJournal(const std::string& program_folder);

}  // namespace qz
