// The request journal: accepted requests kept on disk until their run ends,
// so a crash loses none. Each daemon run appends to a file of its own in the
// journal folder and holds its flock; once serving, a run takes over the
// files of runs that are gone (their lock is free) and replays what they
// left. A run still stopping keeps its file, so runs may overlap.
//
// Put() returns once the record is on disk (fdatasync). Concurrent callers
// share one write and one fdatasync: the first to arrive writes everything
// queued so far while the others wait for that batch (group commit).
// The file is extended with zeros ahead of the records (Options::
// preallocate), so a commit rewrites blocks already allocated and its
// fdatasync need not also commit the file's new size.
// Remove() is written but not synced: a removal lost to a power cut only
// means a run is repeated, which at-least-once delivery allows. When most of
// the file is dead records it is rewritten with the live ones and renamed
// over the old (fsync of file and folder), so the file stays small.
// Safe from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dispatch/journal_file.h"
#include "platform/status.h"
#include "platform/unique_fd.h"

namespace qz {

class RequestJournal {
 public:
  struct Options {
    uint64_t compact_after_dead_bytes = 1 << 20;  // and more dead than live
    uint64_t preallocate = 1 << 20;               // zeros kept ahead of the records
    // Told of requests that could not be made durable (a full disk).
    std::function<void(std::string_view line)> report;
  };
  using Leftover = std::pair<uint64_t, std::string>;  // key in this run, payload

  // The journal of this run in `program_folder`/QzNotesJournal (made
  // owner-only when missing). Null, with `status` saying why, when it cannot
  // be opened.
  static std::unique_ptr<RequestJournal> Open(const std::string& program_folder, Status& status,
                                              Options options);
  static std::unique_ptr<RequestJournal> Open(const std::string& program_folder, Status& status) {
    return Open(program_folder, status, Options{});
  }
  // A file with nothing left in it is removed; one with entries stays for
  // the next run.
  ~RequestJournal();
  RequestJournal(const RequestJournal&) = delete;
  RequestJournal& operator=(const RequestJournal&) = delete;

  uint64_t NewKey();
  // Records (or replaces) the entry `key`; true once it is durable.
  bool Put(uint64_t key, std::string_view payload);
  // Ends the entry `key`; false when the write failed.
  bool Remove(uint64_t key);
  // From now on entries stay: the server is going away without running
  // them (its bus connection closed), and the next run replays them.
  void KeepEverything() { keep_everything_ = true; }

  // Takes over the files of runs that are gone: their entries move into
  // this run's file (durably, before their files are removed) under new
  // keys, which this answers. Replay each, then Remove() it when its run ends.
  std::vector<Leftover> TakeOverEarlierRuns();

  // Says that a request was accepted without being durable.
  void ReportFailure(std::string_view line) const {
    if (options_.report) options_.report(line);
  }

  size_t LiveCount() const;
  const std::string& file_path() const { return path_; }

 private:
  struct Change {
    JournalRecordType type;
    uint64_t key;
    uint64_t at;  // offset of its record in the batch
    uint64_t size;
  };
  struct Batch {
    std::string bytes;
    std::vector<Change> changes;
    bool sync = false;
    bool done = false;
    bool ok = false;
  };
  struct Extent {
    uint64_t offset;
    uint64_t size;
  };

  RequestJournal(UniqueFd dir, UniqueFd file, std::string folder, std::string name,
                 Options options);
  bool Append(JournalRecordType type, uint64_t key, std::string_view payload, bool durable);
  // Writer only (the one thread with writing_ set).
  bool WriteBatch(const Batch& batch);
  void ApplyBatch(const Batch& batch, uint64_t start);  // with mutex_ held
  bool CompactionDue() const;                           // with mutex_ held
  bool Compact(std::unordered_map<uint64_t, Extent>& live);

  UniqueFd dir_;
  UniqueFd file_;  // writer only; its flock marks this run as alive
  std::string folder_;
  std::string name_;
  std::string path_;
  Options options_;
  uint64_t size_ = 0;       // writer only: where the records end
  uint64_t allocated_ = 0;  // writer only: the file's length, zeros past size_

  mutable std::mutex mutex_;
  std::atomic<bool> keep_everything_{false};
  std::condition_variable written_;
  std::shared_ptr<Batch> open_;  // collecting records for the next write
  bool writing_ = false;
  std::unordered_map<uint64_t, Extent> live_;
  uint64_t live_bytes_ = 0;
  uint64_t dead_bytes_ = 0;
  uint64_t next_key_ = 1;
};

}  // namespace qz
