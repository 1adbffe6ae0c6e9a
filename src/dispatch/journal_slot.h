// An object's place in the request journal: the one entry its pending
// request has there. Keeping a new request replaces the entry; clearing it
// (the run ended, or the request was cancelled) removes it. Without a
// journal it does nothing. Used on its object's apartment thread.
#pragma once

#include <cstdint>
#include <utility>

#include "dispatch/request_record.h"

namespace qz {

class JournalStore;

class JournalSlot {
 public:
  explicit JournalSlot(JournalStore* journal) : journal_(journal) {}
  ~JournalSlot() = default;  // an entry still kept stays for the next run
  JournalSlot(const JournalSlot&) = delete;
  JournalSlot& operator=(const JournalSlot&) = delete;

  // True once the request is durable (or there is no journal to keep it).
  bool Keep(const RequestRecord& record);
  // Takes over an entry an earlier run left, kept under `key`.
  void Adopt(uint64_t key);
  void Clear();
  // Replaces the entry with `record` marked failed and lets go of it: it
  // stays as a dead letter, and a next request gets an entry of its own.
  void KeepFailed(const RequestRecord& record);
  // Lets go of the entry without ending it: the next run replays it, or
  // another slot adopts it. Answers its key.
  // The entry held now; 0 for none.
  uint64_t key() const { return held_ ? key_ : 0; }
  // A next request gets an entry of its own: the one let go may be taken
  // up elsewhere.
  uint64_t Release() {
    held_ = false;
    return std::exchange(key_, 0);
  }

 private:
  JournalStore* journal_;
  uint64_t key_ = 0;  // 0: none given out yet
  bool held_ = false;
};

}  // namespace qz
