// What an operator sees of the request journal and how it is cleared, with
// or without a daemon running: the files of the journal folder, whether a
// running daemon holds each, and the requests left in them. A file a running
// daemon holds is never touched. Stateless; safe from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/request_record.h"
#include "platform/status.h"

namespace qz {

struct JournalFileReport {
  std::string name;
  bool in_use = false;  // a running daemon holds it
  bool recognised = true;
  uint64_t skipped_bytes = 0;  // damage no record could be read from
  bool read_error = false;
  std::vector<RequestRecord> requests;
  size_t unreadable = 0;  // entries written by another version
};

// An entry of the folder that is no journal file to read, and why.
struct JournalSkipped {
  std::string name;
  std::string why;
};

struct JournalListing {
  std::vector<JournalFileReport> files;  // by name
  std::vector<JournalSkipped> skipped;
  size_t damaged_kept = 0;  // files a daemon set aside in damaged/
};

// Nothing, with `status` saying why, when the journal folder is missing or
// cannot be listed.
std::optional<JournalListing> ListJournal(const std::string& program_folder, Status& status);

struct JournalClearing {
  size_t files_removed = 0;
  size_t requests_removed = 0;
  std::vector<std::string> in_use;      // files left because a daemon holds them
  std::vector<JournalSkipped> skipped;  // no journal files: left alone
  Status status;                        // why the clearing stopped short
};

JournalClearing ClearJournal(const std::string& program_folder);

// The bytes of every file in the journal folder of `program_folder`,
// damaged ones set aside included: all the disk the journal holds. Walks
// the folder, so it is for a status or a scrape, not for every request.
uint64_t JournalDiskBytes(const std::string& program_folder);

class JournalStore;

// A request that gave up, as a running daemon's journal keeps it.
struct DeadLetter {
  uint64_t key = 0;
  RequestRecord record;
};

// The dead letters of `journal`, oldest failure first, once those kept
// past [Delivery] KeepFailed of `program_folder` are dropped.
std::vector<DeadLetter> DeadLetters(JournalStore& journal, const std::string& program_folder,
                                    int64_t now_unix_ms);
// The dead letter's request as a new run: a first try, its callback kept.
RequestRecord AsNewRun(RequestRecord record, int64_t now_unix_ms);

}  // namespace qz
