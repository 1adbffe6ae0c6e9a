// How cNotify keeps its pending request in the journal and takes one up
// again after a restart.
#include <chrono>

#include "dispatch/c_notify.h"

namespace qz {

void cNotify::KeepInJournal(std::string_view procedure) {
  if (!env_.journal) return;
  RequestRecord r;
  r.object_path = path_;
  r.owner = owner_;
  r.procedure = procedure;
  r.accepted_unix_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
  r.mstrTestID = mstrTestID;
  r.mvarNotes = mvarNotes;
  r.mvarEmail = mvarEmail;
  r.mvarPager = mvarPager;
  r.mblnMailEnabled = mblnMailEnabled;
  r.mstrSubject = mstrSubject;
  r.mstrMailFrom = mstrMailFrom;
  r.mstrProfile = mstrProfile;
  r.mstrSMTPServer = mstrSMTPServer;
  r.mstrNotifyServer = mstrNotifyServer;
  if (mobjNotify)
    if (auto address = mobjNotify->BusAddress()) {
      r.callback_bus = address->bus_name;
      r.callback_path = address->path;
      r.callback_uid = address->owner_uid;
    }
  r.mstrLastLogged = mstrLastLogged.Saved();
  journal_slot_.Keep(r);
}

void cNotify::ResumeRequest(const RequestRecord& r, uint64_t key,
                            std::shared_ptr<DispatchObject> callback) {
  mstrTestID = r.mstrTestID;
  mvarNotes = r.mvarNotes;
  mvarEmail = r.mvarEmail;
  mvarPager = r.mvarPager;
  mblnMailEnabled = r.mblnMailEnabled;
  mstrSubject = r.mstrSubject;
  mstrMailFrom = r.mstrMailFrom;
  mstrProfile = r.mstrProfile;
  mstrSMTPServer = r.mstrSMTPServer;
  mstrNotifyServer = r.mstrNotifyServer;
  mstrLastLogged = LoggedText::FromSaved(r.mstrLastLogged);
  mobjNotify = std::move(callback);
  path_ = r.object_path;
  owner_ = r.owner;
  ArmTimer();
  journal_slot_.Adopt(key);
}

}  // namespace qz
