// The request journal: accepted requests kept on disk until their run ends,
// so a crash loses none. Each daemon run appends to a file of its own in the
// journal folder and holds its flock; once serving, a run takes over the
// files of runs that are gone (their lock is free) and replays what they
// left. A run still stopping keeps its file, so runs may overlap. A file
// with anything unreadable in it goes to the folder's damaged/ folder once
// what could be read of it is safe in this run's file; the daemon never
// deletes those.
//
// Put() returns once the record is on disk (fdatasync). Concurrent callers
// share one write and one fdatasync: the first to arrive writes everything
// queued so far while the others wait for that batch (group commit).
// The file is extended with zeros ahead of the records (Options::
// preallocate), so a commit rewrites blocks already allocated and its
// fdatasync need not also commit the file's new size. Those zeros always
// hold room for a remove record of every live entry, set aside when its put
// was written: on a full disk requests are refused, but those that ended
// are still written as ended and do not run again.
// Remove() is written but not synced until the run stops: a removal lost to
// a power cut only means a run is repeated, which at-least-once delivery
// allows. One that fails is reported and retried with the next write and at
// the stop. When most of the file is dead records it is rewritten with the
// live ones and renamed over the old (fsync of file and folder), so the
// file stays small.
// Safe from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dispatch/journal_file.h"
#include "dispatch/journal_store.h"
#include "platform/status.h"
#include "platform/unique_fd.h"

namespace qz {

class RequestJournal final : public JournalStore {
 public:
  struct Options {
    uint64_t compact_after_dead_bytes = 1 << 20;  // and more dead than live
    uint64_t preallocate = 1 << 20;               // zeros kept ahead of the records
    // Told of requests that could not be made durable (a full disk), of
    // ends that could not be written and of damaged files kept aside.
    std::function<void(std::string_view line)> report;
  };

  // The journal of this run in `program_folder`/QzNotesJournal (made
  // owner-only when missing). Null, with `status` saying why, when it cannot
  // be opened.
  static std::unique_ptr<RequestJournal> Open(const std::string& program_folder, Status& status,
                                              Options options);
  static std::unique_ptr<RequestJournal> Open(const std::string& program_folder, Status& status) {
    return Open(program_folder, status, Options{});
  }
  // Retries the removals that failed. A file with nothing left in it is
  // removed; one with entries is synced and stays for the next run.
  ~RequestJournal() override;
  RequestJournal(const RequestJournal&) = delete;
  RequestJournal& operator=(const RequestJournal&) = delete;

  uint64_t NewKey() override;
  // Records (or replaces) the entry `key`; true once it is durable.
  bool Put(uint64_t key, std::string_view payload) override;
  // Records the entry `key` as a request that gave up (a dead letter):
  // it stays, and is listed by Failed(), until replaced or removed.
  bool PutFailed(uint64_t key, std::string_view payload) override;
  // Counts an entry already in this run's file (taken over) as failed.
  void HoldFailed(uint64_t key, std::string payload) override;
  // Ends the entry `key`; false when the write failed (it is retried).
  bool Remove(uint64_t key) override;
  // From now on entries stay: the server is going away without running
  // them (its bus connection closed), and the next run replays them.
  void KeepEverything() override { keep_everything_ = true; }

  // Takes over the files of runs that are gone: their entries move into
  // this run's file (durably, before their files are removed or, if
  // damaged, kept aside) under new keys, which this answers. Replay each,
  // then Remove() it when its run ends.
  std::vector<Leftover> TakeOverEarlierRuns() override;

  // Says that a request was accepted without being durable.
  void ReportFailure(std::string_view line) const override {
    if (options_.report) options_.report(line);
  }

  size_t LiveCount() const override;
  size_t FailedCount() const override;
  std::vector<Leftover> Failed() const override;  // the dead letters, by key
  const std::string& where() const override { return path_; }
  const std::string& file_path() const { return path_; }

 private:
  struct Change {
    JournalRecordType type;
    uint64_t key;
    std::string frame;
    uint64_t offset = 0;  // in the file, once written
    bool ok = false;
  };
  struct Batch {
    std::vector<Change> retries;  // removals that failed before, written first
    std::vector<Change> changes;
    bool sync = false;
    bool done = false;
  };
  struct Extent {
    uint64_t offset;
    uint64_t size;
  };

  RequestJournal(UniqueFd dir, UniqueFd file, std::string folder, std::string name,
                 std::string header, Options options);
  bool Append(JournalRecordType type, uint64_t key, std::string_view payload, bool durable);
  bool Holds(uint64_t key) const;              // with mutex_ held
  size_t LiveAfter(const Batch& batch) const;  // with mutex_ held
  // Applies what was written; answers the lines to report.
  std::vector<std::string> ApplyBatch(Batch& batch);  // with mutex_ held
  // Writer only (the one thread with writing_ set).
  void WriteBatch(Batch& batch, size_t live_after);
  bool Reserve(uint64_t length);
  bool Compact(std::unordered_map<uint64_t, Extent>& live);
  void Report(const std::string& line) const { ReportFailure(line); }

  UniqueFd dir_;
  UniqueFd file_;  // writer only; its flock marks this run as alive
  std::string folder_;
  std::string name_;
  std::string path_;
  std::string header_;  // this file's, with its salt
  Options options_;
  uint64_t size_ = 0;       // writer only: where the records end
  uint64_t allocated_ = 0;  // writer only: the file's length, zeros past size_
  std::string error_;       // writer only: why the last write failed

  mutable std::mutex mutex_;
  std::atomic<bool> keep_everything_{false};
  std::condition_variable written_;
  std::shared_ptr<Batch> open_;       // collecting records for the next write
  std::shared_ptr<Batch> in_flight_;  // being written
  bool writing_ = false;
  // Changed only by the writer, with mutex_ held: the writer may read it without.
  std::unordered_map<uint64_t, Extent> live_;
  std::set<uint64_t> unremoved_;            // live only because their removal failed
  std::map<uint64_t, std::string> failed_;  // dead letters' payloads, few and small
  uint64_t live_bytes_ = 0;
  uint64_t dead_bytes_ = 0;
  uint64_t compact_at_ = 0;  // dead bytes at which to try compacting again
  uint64_t next_key_ = 1;
};

}  // namespace qz
