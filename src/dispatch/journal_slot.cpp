#include "dispatch/journal_slot.h"

#include <utility>

#include "dispatch/journal_store.h"

namespace qz {

bool JournalSlot::Keep(const RequestRecord& record) {
  if (!journal_) return true;
  if (key_ == 0) key_ = journal_->NewKey();
  bool kept = journal_->PutRecord(key_, EncodeRequest(record), record);
  // Even a failed write may leave an earlier request's entry under the key:
  // the next Clear() removes it.
  held_ = true;
  // A store that refuses instead says so to the caller.
  if (!kept && !journal_->RefusesWhenNotDurable())
    journal_->ReportFailure("journal: cannot write request " + record.mstrTestID + " of " +
                            record.object_path + " to " + journal_->where() +
                            ": accepted, but lost if the daemon stops before its run");
  return kept;
}

void JournalSlot::Adopt(uint64_t key) {
  key_ = key;
  held_ = journal_ != nullptr;
}

void JournalSlot::KeepFailed(const RequestRecord& record) {
  if (!held_) return;
  held_ = false;
  const uint64_t key = std::exchange(key_, 0);
  if (journal_->PutFailed(key, EncodeRequest(record))) return;
  // Ended rather than left waiting: its run must not come again.
  journal_->Remove(key);
  journal_->ReportFailure("journal: cannot keep failed request " + record.mstrTestID + " in " +
                          journal_->where() + ": it is not listed as failed");
}

void JournalSlot::Clear() {
  if (!held_) return;
  held_ = false;
  journal_->Remove(key_);
}

}  // namespace qz
