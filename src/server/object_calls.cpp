#include "server/object_calls.h"

#include <set>

#include "automation/names.h"
#include "diagnostics/metrics.h"
#include "dispatch/fleet_role.h"
#include "server/call_arguments.h"
#include "server/callback_reference.h"
#include "server/caller_identity.h"
#include "server/delivery_report.h"
#include "server/dispatch_slots.h"
#include "server/heap_trim.h"
#include "server/journal_replay.h"
#include "server/remote_object.h"
#include "server/replies.h"
#include "server/served_classes.h"
#include "server/server_log.h"
#include "server/smtp_allow_list.h"

namespace qz {
namespace {

// A request the object accepted holds its ticket until its run ends; one it
// replaced or cancelled gives its ticket back.
void KeepRequestTicket(ObjectEntry& entry, const Operation& op, CallerLedger::Ticket& ticket) {
  if (!entry.object->HasPendingWork() || op.request) ReturnTicket(entry.request, *entry.apartment);
  if (entry.object->HasPendingWork() && op.request) entry.request = std::move(ticket);
}

// What the exception being handled says of itself, for the log.
std::string ThrownText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "an exception of no known type";
  }
}

}  // namespace

ObjectCalls::ObjectCalls(GDBusConnection* connection, const ServerOptions& options,
                         ServerEnvironment env, CallAdmission& admission, CallerUids& uids)
    : connection_(Ref(connection)),
      system_bus_(options.system_bus),
      env_(std::move(env)),
      admission_(admission),
      uids_(uids),
      standing_(uids, options.system_bus),
      main_context_(g_main_context_ref(g_main_context_default())),
      pool_(options.apartments, options.user_share) {
  owner_subscription_ = g_dbus_connection_signal_subscribe(
      connection_.get(), "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
      "/org/freedesktop/DBus", nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters,
         gpointer self) { static_cast<ObjectCalls*>(self)->OnNameOwnerChanged(parameters); },
      this, nullptr);
}

ObjectCalls::~ObjectCalls() {
  replay_.reset();  // its work refers to this
  g_dbus_connection_signal_unsubscribe(connection_.get(), owner_subscription_);
  for (auto& entry : table_.RemoveAll()) entry->apartment->Call([&] { entry->object.reset(); });
}

bool ObjectCalls::Idle() const {
  return table_.size() == 0 && live_objects_ == 0 && creating_ == 0 &&
         (!replay_ || replay_->Done());
}

void ObjectCalls::KeepReplay(std::unique_ptr<JournalReplay> replay) { replay_ = std::move(replay); }

void ObjectCalls::ReplayQuiet() {
  if (!stopping_ && object_gone_) object_gone_();
}

void ObjectCalls::OnMain(Work work) { PostToContext(main_context_.get(), std::move(work)); }

bool ObjectCalls::TakeUnlessStopping(const std::function<void()>& take) {
  std::unique_lock lock(stop_mutex_);
  if (stopping_) return false;
  take();
  return true;
}

bool ObjectCalls::TakeCreate(MessagePtr& call) {
  return TakeUnlessStopping([&] {
    ++creating_;
    OnMain([this, call = std::move(call)] {
      CreateObject(call.get());
      --creating_;
    });
  });
}

bool ObjectCalls::DecideStop(const std::function<bool()>& still_wanted) {
  std::unique_lock lock(stop_mutex_);
  if (stopping_ || !still_wanted()) return false;
  // From here on calls are refused, so nothing is accepted that would
  // never run.
  stopping_ = true;
  return true;
}

void ObjectCalls::OnNameOwnerChanged(GVariant* parameters) {
  if (!parameters || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sss)"))) return;
  const char* name = nullptr;
  const char* old_owner = nullptr;
  const char* new_owner = nullptr;
  g_variant_get(parameters, "(&s&s&s)", &name, &old_owner, &new_owner);
  if (name[0] != ':' || new_owner[0] != '\0') return;
  uids_.Forget(name);
  standing_.Forget(name);
  blanked_log_.Forget(name);
  admission_.Forget(name);
  for (auto& entry : table_.RemoveOwnedBy(name))
    Destroy(entry, std::string("creator ") + name + " left the bus");
}

void ObjectCalls::MakeObject(ObjectEntry& entry) {
  Apartment& apartment = *entry.apartment;
  entry.object =
      entry.description->make(ObjectSeat{env_, apartment.context(), &apartment.deliveries(),
                                         entry.path, entry.owner, &apartment.waits()});
}

// The sink lives in the object, which the entry owns: the entry outlives it.
void ObjectCalls::ReportOutcomes(ObjectEntry& entry) {
  entry.object->SetOutcomeSink([this, &entry](const DispatchTrace& trace) {
    pending_.Ended(entry.path);
    ReportDelivery(connection_.get(), ShortPath(entry.path), trace, {}, entry.owner, entry.path);
    if (outcome_observer_) outcome_observer_(entry, trace);
    ReturnTicket(entry.request, *entry.apartment);  // the run has ended
  });
}

void ObjectCalls::CreateObject(GDBusMessage* call) {
  try {
    RequireSignature(call, "(s)");
    const char* progid = nullptr;
    g_variant_get(g_dbus_message_get_body(call), "(&s)", &progid);
    const ClassDescription* description = FindClass(progid);
    // Taken before a termination signal decided the stop: refused as any
    // call after it is.
    if (stopping_) return SendStoppingError(connection_.get(), call);
    if (!description || !description->creatable())
      throw RunTimeError(kErrCannotCreate, "Can't create object", kBoundarySource);
    const char* sender = g_dbus_message_get_sender(call);
    const CallerUsage usage{table_.OwnedBy(sender ? sender : "")};
    if (auto passed = CheckNewObject(admission_.limits(), usage))
      return admission_.RefuseOverLimit(call, *passed);
    std::optional<CallerLedger::Ticket> seat = admission_.AdmitObject(call);
    if (!seat) return;
    const std::optional<uid_t> user = Occupant(sender ? sender : "");
    auto entry = table_.Add(*description, sender ? sender : "", pool_.Assign(user));
    entry->user = user;
    entry->seat = std::move(seat);
    ++live_objects_;
    if (sender) ReleaseIfCreatorGone(entry->owner);
    entry->apartment->Post([this, entry, call = Ref(call)] {
      MakeObject(*entry);
      ReportOutcomes(*entry);
      SendReply(connection_.get(), call.get(), g_variant_new("(o)", entry->path.c_str()));
    });
  } catch (const RunTimeError& e) {
    ServerLog(std::string("CreateObject: ") + e.description());
    SendError(connection_.get(), call, e);
  }
}

void ObjectCalls::ReleaseIfCreatorGone(const std::string& owner) {
  // A creator that left before its object was in the table sent its
  // NameOwnerChanged too early for us: ask the bus once more.
  struct Check {
    ObjectCalls* objects;
    std::string owner;
  };
  auto check = std::make_unique<Check>(Check{this, owner});
  g_dbus_connection_call(
      connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "NameHasOwner", g_variant_new("(s)", owner.c_str()), G_VARIANT_TYPE("(b)"),
      G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Check> check(static_cast<Check*>(data));
        VariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr));
        gboolean present = TRUE;
        if (reply) g_variant_get(reply.get(), "(b)", &present);
        if (present) return;
        for (auto& entry : check->objects->table_.RemoveOwnedBy(check->owner))
          check->objects->Destroy(entry,
                                  "creator " + check->owner + " left before its object was made");
      },
      check.release());
}

void ObjectCalls::DispatchSlot(GDBusMessage* call, const std::shared_ptr<ObjectEntry>& entry) {
  AnswerDispatchSlot(
      connection_.get(), call, *entry, table_, admission_,
      [this](std::shared_ptr<ObjectEntry> released) { Destroy(std::move(released), "released"); });
}

void ObjectCalls::RunOperation(std::shared_ptr<ObjectEntry> entry, MessagePtr call,
                               const Operation& op, bool invoke, CallerLedger::Ticket ticket) {
  Apartment& apartment = *entry->apartment;
  apartment.Post([this, entry = std::move(entry), call = std::move(call), &op, invoke,
                  ticket = std::move(ticket)]() mutable {
    ExecuteOperation(*entry, call.get(), op, invoke, ticket);
    call.reset();  // before a trim, so that its arguments go back too
    std::optional<CallerLedger::Ticket> done(std::move(ticket));
    ReturnTicket(done, *entry->apartment);
  });
}

std::optional<uid_t> ObjectCalls::Occupant(const std::string& caller) const {
  if (!system_bus_ || caller.empty()) return std::nullopt;
  return uids_.Cached(caller);
}

std::shared_ptr<ObjectEntry> ObjectCalls::AddUnowned(const ClassDescription& description,
                                                     std::optional<uid_t> user) {
  auto entry = table_.Add(description, "", pool_.Assign(user));
  entry->user = user;
  ++live_objects_;
  return entry;
}

void ObjectCalls::ReleaseUnowned(const ObjectEntry& entry, std::string_view why) {
  auto released = table_.Release(entry.path);
  if (released && released->second) Destroy(released->second, why);
}

void ObjectCalls::RunOnTransientObject(MessagePtr call, const ClassDescription& description,
                                       const Operation& op, bool invoke,
                                       CallerLedger::Ticket ticket) {
  const char* sender = g_dbus_message_get_sender(call.get());
  auto entry = AddUnowned(description, Occupant(sender ? sender : ""));
  entry->apartment->Post(
      [this, entry, call = std::move(call), &op, invoke, ticket = std::move(ticket)]() mutable {
        MakeObject(*entry);
        ExecuteOperation(*entry, call.get(), op, invoke, ticket);
        call.reset();
        std::optional<CallerLedger::Ticket> done(std::move(ticket));
        ReturnTicket(done, *entry->apartment);
        if (!entry->object->HasPendingWork()) {
          ReleaseUnowned(*entry, "one-shot call done");
          return;
        }
        // The object lives until its work is done; it is destroyed after the
        // run, not inside it.
        entry->object->SetOutcomeSink([this, entry](const DispatchTrace& trace) {
          pending_.Ended(entry->path);
          ReportDelivery(connection_.get(), ShortPath(entry->path), trace, {}, entry->owner,
                         entry->path);
          if (outcome_observer_) outcome_observer_(*entry, trace);
          ReturnTicket(entry->request, *entry->apartment);
          ReleaseUnowned(*entry, "one-shot work done");
        });
      });
}

void ObjectCalls::ExecuteOperation(ObjectEntry& entry, GDBusMessage* call, const Operation& op,
                                   bool invoke, CallerLedger::Ticket& ticket) {
  const char* sender = g_dbus_message_get_sender(call);
  std::string caller = sender ? sender : "";
  // Runs while the arguments are read, so a reference the caller may not
  // give answers 13 before the operation starts.
  ObjectResolver resolve = [this, caller](
                               std::string_view bus,
                               std::string_view path) -> std::shared_ptr<DispatchObject> {
    BusReference to = VetCallbackReference(connection_.get(), uids_, caller, bus, path);
    if (path == "/") return nullptr;
    return std::make_shared<RemoteObject>(connection_.get(), std::move(to.bus_name),
                                          std::move(to.path), to.owner_uid);
  };
  // Asked before the reply, while a one-shot caller is still on the bus.
  const std::string writer =
      op.changes_settings ? CallerIdentityText(connection_.get(), caller) : std::string();
  auto fail = [&](const RunTimeError& e, std::string_view cause) {
    std::string line = std::string(ShortPath(entry.path)) + ": " + std::string(op.name) + ": E" +
                       std::to_string(e.number()) + " " + e.source() + ": " + e.description();
    line.append(cause);
    if (op.changes_settings) line.append(" by ").append(writer);
    ServerLog(line);
    SendError(connection_.get(), call, e);
  };
  try {
    if (!entry.object) throw RunTimeError(kErrObjectNotSet, kBoundarySource);
    GVariant* body = g_dbus_message_get_body(call);
    std::vector<Variant> args;
    if (invoke) {
      VariantPtr list(g_variant_get_child_value(body, 1));
      args = ArgumentsFromInvoke(op, list.get(), resolve);
    } else {
      args = ArgumentsFromNamedCall(op, body, resolve);
    }
    if (!op.run) throw RunTimeError(kErrNoSuchAction, kBoundarySource);
    if (!AllowedForOutsider(entry, call, op, args)) return;
    Variant result;
    {
      // An operation may wait on a gateway (the gateway test, cPager): the
      // pool then seats new objects elsewhere.
      DeliveryInProgress busy(&entry.apartment->deliveries());
      result = op.run(*entry.object, args);
    }
    // Asked only now, so that nobody waits for the bus who need not.
    if (op.outsider_answer && standing_.IsOutsider(caller)) {
      result = op.outsider_answer(args, result);
      if (auto line = blanked_log_.Line(caller, std::string(ShortPath(entry.path)) + ": " +
                                                    std::string(op.name) +
                                                    ": secret values blanked for an outsider"))
        ServerLog(*line);
    }
    // Before the answer, so that a stop from now on can name it.
    if (entry.object->HasPendingWork()) {
      pending_.Accepted(entry.path, entry.object->PendingWorkName());
      if (op.request && env_.metrics) env_.metrics->Accepted(Boundary::kDbus);
    }
    KeepRequestTicket(entry, op, ticket);
    SendReply(connection_.get(), call,
              invoke ? InvokeReply(op, result, args) : NamedReply(op, result, args));
    // Logged after the reply, so the write to the journal adds no latency.
    if (op.log_line) {
      std::string line = std::string(ShortPath(entry.path)) + ": " + op.log_line(args, result);
      if (op.changes_settings) line.append(" by ").append(writer);
      ServerLog(line);
    }
    // Accepted while the server stops (it was on its way before the stop
    // was decided): done now, as the stop does with everything pending.
    if (stopping_ && entry.object->HasPendingWork()) entry.object->FinishPendingWork();
  } catch (const RunTimeError& e) {
    fail(e, {});
  } catch (const JournalUnavailable& e) {
    ServerLog(std::string(ShortPath(entry.path)) + ": " + std::string(op.name) +
              ": refused: " + e.what());
    SendErrorNamed(connection_.get(), call, kJournalUnavailableError, e.what());
  } catch (...) {
    // Nothing of ours threw it: the caller gets error 51, the log what it was.
    fail(RunTimeError(kErrInternal, kBoundarySource), " (" + ThrownText() + ")");
  }
}

bool ObjectCalls::AllowedForOutsider(const ObjectEntry& entry, GDBusMessage* call,
                                     const Operation& op, std::span<const Variant> args) {
  if (!op.mail_options || *op.mail_options >= args.size()) return true;
  const char* sender = g_dbus_message_get_sender(call);
  const std::string caller = sender ? sender : "";
  if (!standing_.IsOutsider(caller)) return true;
  const std::optional<std::string> refusal =
      SmtpServerRefusal(args[*op.mail_options], env_.folder, env_.registry);
  if (!refusal) return true;
  ServerLog(std::string(ShortPath(entry.path)) + ": " + std::string(op.name) + ": refused " +
            CallerIdentityText(connection_.get(), caller) + ": " + *refusal);
  SendErrorNamed(connection_.get(), call, kAccessDeniedError, *refusal);
  return false;
}

void ObjectCalls::Destroy(std::shared_ptr<ObjectEntry> entry, std::string_view why) {
  ServerLog(std::string(ShortPath(entry->path)) + ": " + std::string(why));
  entry->seat.reset();  // out of the table: its user may make another
  Apartment& apartment = *entry->apartment;
  apartment.Post([this, entry = std::move(entry)] {
    // A request waiting for its next try was accepted and tried: its caller
    // expects its outcome, so another object finishes it. At a stop, or
    // without the bus, it stays in the journal instead.
    if (entry->object && !stopping_ && !g_dbus_connection_is_closed(connection_.get()))
      if (auto waiting = entry->object->HandOverWaitingRequest())
        ResumeOnOwnObject(*this, connection_.get(), waiting->key, std::move(waiting->record),
                          std::move(waiting->callback),
                          {"taking over", "taken-over request done", " (taken over)"}, entry->user);
    entry->object.reset();  // an undispatched request goes with it
    pending_.Ended(entry->path);
    ReturnTicket(entry->request, *entry->apartment);
    --live_objects_;
    if (!stopping_)
      OnMain([this] {
        if (object_gone_) object_gone_();
      });
  });
}

bool ObjectCalls::FinishAllPendingWork(Work ended) {
  auto entries = table_.All();
  if (entries.empty()) return false;
  ServerLog("stopping: delivering " + std::to_string(entries.size()) +
            " objects' pending requests now");
  std::set<Apartment*> apartments;
  for (auto& entry : entries) {
    apartments.insert(entry->apartment.get());
    entry->apartment->Post([entry] {
      if (entry->object) entry->object->FinishPendingWork();
    });
  }
  // Work runs in order on each apartment: once every apartment has reached
  // its marker, every run started above has ended.
  auto remaining = std::make_shared<std::atomic<size_t>>(apartments.size());
  auto shared_ended = std::make_shared<Work>(std::move(ended));
  for (Apartment* apartment : apartments)
    apartment->Post([this, remaining, shared_ended] {
      if (--*remaining == 0) OnMain(std::move(*shared_ended));
    });
  return true;
}

void ObjectCalls::DestroyAll(std::string_view why) {
  for (auto& entry : table_.RemoveAll()) Destroy(entry, why);
}

}  // namespace qz
