#include "dispatch/c_notify.h"

#include "diagnostics/error_reporter.h"
#include "diagnostics/error_sources.h"
#include "dispatch/logon_user.h"

namespace qz {
namespace {

constexpr std::string_view kNotifySource = kServerSource;

// An element used as text is non-empty when its text is; Null cannot be
// used as text and raises 94.
bool HasText(const Variant& element) { return !element.Text().empty(); }

}  // namespace

cNotify::cNotify(const ServerEnvironment& env, GMainContext* context, std::atomic<int>* deliveries,
                 std::string_view path, std::string_view owner, TimerQueue* waits)
    : env_(env),
      context_(context),
      deliveries_(deliveries),
      path_(path),
      owner_(owner),
      journal_slot_(env.journal),
      waits_(waits) {}

cNotify::~cNotify() {
  // A request waiting for its next try was accepted and tried: the journal
  // keeps it for the next run rather than losing it with the object.
  if (WaitsForRetry()) journal_slot_.Release();
  UnloadForm();
}

Variant cNotify::SendMessageCallBack(const Variant& lvarNotes, const Variant& lvarEmail,
                                     const Variant& lvarPager, const Variant& lvarAny,
                                     std::shared_ptr<DispatchObject> lobjNotify,
                                     std::string_view lstrTestID) {
  return Submit(
      "SendMessageCallBack", lvarNotes, lvarEmail, lvarPager, lvarAny,
      [&] { mobjNotify = std::move(lobjNotify); }, lstrTestID);
}

Variant cNotify::SendMessageCallBackEx(const Variant& lvarNotes, const Variant& lvarEmail,
                                       const Variant& lvarPager, const Variant& lvarAny,
                                       const Variant& lvarNotify, std::string_view lstrTestID) {
  return Submit(
      "SendMessageCallBackEx", lvarNotes, lvarEmail, lvarPager, lvarAny,
      [&] { mstrNotifyServer = lvarNotify.Text(); }, lstrTestID);
}

Variant cNotify::Submit(std::string_view procedure, const Variant& lvarNotes,
                        const Variant& lvarEmail, const Variant& lvarPager, const Variant& lvarAny,
                        const std::function<void()>& store_callback_party,
                        std::string_view lstrTestID) {
  try {
    if (WaitsForRetry() && env_.report)
      env_.report("request " + mstrTestID + ": waiting for try " + std::to_string(tries_ + 1) +
                  ", replaced by request " + std::string(lstrTestID) + " on the same object");
    mstrTestID = lstrTestID;
    mvarNotes = lvarNotes;
    mvarEmail = lvarEmail;
    mvarPager = lvarPager;
    mblnMailEnabled = false;
    DecideMailRoute(lvarAny);
    store_callback_party();
    ArmTimer();
    KeepInJournal(procedure);
    return Variant("Notes Server: Asynch mode");
  } catch (const JournalUnavailable&) {
    // Refused, not accepted: the caller is told so and may try again.
    UnloadForm();
    throw;
  } catch (...) {
    CaughtError error = CurrentError();
    gsubDisplayError(error, kNotifySource, procedure);
    // A failed call also cancels an earlier request still waiting here.
    UnloadForm();
    return Variant("Notes Server: " + error.description);
  }
}

void cNotify::DecideMailRoute(const Variant& lvarAny) {
  if (!lvarAny.IsArray()) return;
  const Variant& subject = lvarAny.At(0);
  if (subject.IsNull() || !HasText(subject)) return;  // Null subject: no e-mail
  mstrSubject = subject.Text();

  // All three are read before deciding, so a missing element 4 fails the
  // call even when element 3 or 1 is empty.
  bool server = HasText(lvarAny.At(3));
  bool from = HasText(lvarAny.At(1));
  const Variant& preference = lvarAny.At(4);
  bool smtp_preferred = !preference.IsNull() && preference.Text() == "True";
  if (server && from && smtp_preferred) {
    mstrSMTPServer = lvarAny.At(3).Text();
    mstrMailFrom = lvarAny.At(1).Text();
    mblnMailEnabled = true;
    return;
  }

  bool user_logged_on = mblnLogonUser(env_.seat);
  if (HasText(lvarAny.At(2)) && user_logged_on) {
    mstrProfile = lvarAny.At(2).Text();
    mblnMailEnabled = true;
    return;
  }

  if (HasText(lvarAny.At(3)) && HasText(lvarAny.At(1))) {
    mstrSMTPServer = lvarAny.At(3).Text();
    mstrMailFrom = lvarAny.At(1).Text();
    mblnMailEnabled = true;
  }
}

void cNotify::ArmTimer() {
  // The earlier form, if any, is unloaded with its timer: the request it
  // carried is replaced and must never run.
  mfrmNotes = std::make_unique<frmNotes>(context_, env_.registry);
  NotesTimer = &mfrmNotes->Timer1;
  NotesTimer->SetHandler([this] { NotesTimer_Timer(); });
  NotesTimer->SetInterval(1000);
  NotesTimer->SetEnabled(true);
  pending_ = true;
  waiting_mark_.Set(false);  // a new request has no next try set yet
}

void cNotify::UnloadForm() {
  // A request cancelled before its run is not run after a restart either.
  if (pending_) journal_slot_.Clear();
  retry_wait_.Cancel();
  NotesTimer = nullptr;
  mfrmNotes.reset();
  pending_ = false;
  tries_ = 0;
  waiting_mark_.Set(false);
}

}  // namespace qz
