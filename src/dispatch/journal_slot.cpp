#include "dispatch/journal_slot.h"

#include "dispatch/request_journal.h"

namespace qz {

bool JournalSlot::Keep(const RequestRecord& record) {
  if (!journal_) return true;
  if (key_ == 0) key_ = journal_->NewKey();
  bool kept = journal_->Put(key_, EncodeRequest(record));
  // Even a failed write may leave an earlier request's entry under the key:
  // the next Clear() removes it.
  held_ = true;
  if (!kept)
    journal_->ReportFailure("journal: cannot write request " + record.mstrTestID + " of " +
                            record.object_path + " to " + journal_->file_path() +
                            ": accepted, but lost if the daemon stops before its run");
  return kept;
}

void JournalSlot::Adopt(uint64_t key) {
  key_ = key;
  held_ = journal_ != nullptr;
}

void JournalSlot::Clear() {
  if (!held_) return;
  held_ = false;
  journal_->Remove(key_);
}

}  // namespace qz
