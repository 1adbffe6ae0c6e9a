// The factory, the dispatch slots and the operations of served objects.
#include <cstring>

#include "automation/names.h"
#include "server/bus_server.h"
#include "server/call_arguments.h"
#include "server/callback_reference.h"
#include "server/caller_identity.h"
#include "server/delivery_report.h"
#include "server/heap_trim.h"
#include "server/remote_object.h"
#include "server/replies.h"
#include "server/served_classes.h"
#include "server/server_log.h"
#include "server/type_library.h"

namespace qz {
namespace {

constexpr const char* kBoundary = kBoundarySource;

// "cNotify/3" of "/org/qznotes/QzNotes/cNotify/3", for log lines.
std::string_view ShortPath(std::string_view path) {
  return path.substr(std::string_view(kFactoryPath).size() + 1);
}

std::unique_ptr<ServedObject> MakeObject(const ClassDescription& description,
                                         const ServerEnvironment& env, Apartment& apartment,
                                         const ObjectEntry& entry) {
  return description.make(
      ObjectSeat{env, apartment.context(), &apartment.deliveries(), entry.path, entry.owner});
}

// The sink lives in the object, which the entry owns: the entry outlives it.
void ReportOutcomes(GDBusConnection* connection, ObjectEntry& entry, PendingWork& pending) {
  entry.object->SetOutcomeSink([connection, &entry, &pending](const DispatchTrace& trace) {
    pending.Ended(entry.path);
    ReportDelivery(connection, ShortPath(entry.path), trace);
    ReturnTicket(entry.request, *entry.apartment);  // the run has ended
  });
}

// A request the object accepted holds its ticket until its run ends; one it
// replaced or cancelled gives its ticket back.
void KeepRequestTicket(ObjectEntry& entry, const Operation& op, CallerLedger::Ticket& ticket) {
  if (!entry.object->HasPendingWork() || op.request) ReturnTicket(entry.request, *entry.apartment);
  if (entry.object->HasPendingWork() && op.request) entry.request = std::move(ticket);
}

}  // namespace

void BusServer::CreateObject(GDBusMessage* call) {
  try {
    RequireSignature(call, "(s)");
    const char* progid = nullptr;
    g_variant_get(g_dbus_message_get_body(call), "(&s)", &progid);
    const ClassDescription* description = FindClass(progid);
    if (stopping_ || !description || !description->creatable())
      throw RunTimeError(kErrCannotCreate, "Can't create object", kBoundary);
    const char* sender = g_dbus_message_get_sender(call);
    const CallerUsage usage{table_.OwnedBy(sender ? sender : "")};
    if (auto passed = CheckNewObject(options_.limits, usage)) return RefuseOverLimit(call, *passed);
    auto entry = table_.Add(*description, sender ? sender : "", pool_.Assign());
    ++live_objects_;
    if (sender) ReleaseIfCreatorGone(entry->owner);
    entry->apartment->Post([this, entry, call = Ref(call)] {
      entry->object = MakeObject(*entry->description, env_, *entry->apartment, *entry);
      ReportOutcomes(connection_.get(), *entry, pending_);
      SendReply(connection_.get(), call.get(), g_variant_new("(o)", entry->path.c_str()));
    });
  } catch (const RunTimeError& e) {
    ServerLog(std::string("CreateObject: ") + e.description());
    SendError(connection_.get(), call, e);
  }
}

void BusServer::ReleaseIfCreatorGone(const std::string& owner) {
  // A creator that left before its object was in the table sent its
  // NameOwnerChanged too early for us: ask the bus once more.
  struct Check {
    BusServer* server;
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
        for (auto& entry : check->server->table_.RemoveOwnedBy(check->owner))
          check->server->Destroy(entry,
                                 "creator " + check->owner + " left before its object was made");
      },
      check.release());
}

void BusServer::RunOperation(std::shared_ptr<ObjectEntry> entry, MessagePtr call,
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

void BusServer::RunOnTransientObject(MessagePtr call, const ClassDescription& description,
                                     const Operation& op, bool invoke,
                                     CallerLedger::Ticket ticket) {
  // In the table like any object, so a shutdown finishes its work too.
  auto entry = table_.Add(description, "", pool_.Assign());
  ++live_objects_;
  auto release = [this](const std::shared_ptr<ObjectEntry>& e, std::string_view why) {
    auto released = table_.Release(e->path);
    if (released && released->second) Destroy(released->second, why);
  };
  entry->apartment->Post([this, entry, call = std::move(call), &op, invoke, release,
                          ticket = std::move(ticket)]() mutable {
    entry->object = MakeObject(*entry->description, env_, *entry->apartment, *entry);
    ExecuteOperation(*entry, call.get(), op, invoke, ticket);
    call.reset();
    std::optional<CallerLedger::Ticket> done(std::move(ticket));
    ReturnTicket(done, *entry->apartment);
    if (!entry->object->HasPendingWork()) {
      release(entry, "one-shot call done");
      return;
    }
    // The object lives until its work is done; it is destroyed after the
    // run, not inside it.
    entry->object->SetOutcomeSink([this, entry, release](const DispatchTrace& trace) {
      pending_.Ended(entry->path);
      ReportDelivery(connection_.get(), ShortPath(entry->path), trace);
      ReturnTicket(entry->request, *entry->apartment);
      release(entry, "one-shot work done");
    });
  });
}

void BusServer::ExecuteOperation(ObjectEntry& entry, GDBusMessage* call, const Operation& op,
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
  try {
    if (!entry.object) throw RunTimeError(kErrObjectNotSet, kBoundary);
    GVariant* body = g_dbus_message_get_body(call);
    std::vector<Variant> args;
    if (invoke) {
      VariantPtr list(g_variant_get_child_value(body, 1));
      args = ArgumentsFromInvoke(op, list.get(), resolve);
    } else {
      args = ArgumentsFromNamedCall(op, body, resolve);
    }
    if (!op.run) throw RunTimeError(kErrNoSuchAction, kBoundary);
    Variant result;
    {
      // An operation may wait on a gateway (the gateway test, cPager): the
      // pool then seats new objects elsewhere.
      DeliveryInProgress busy(&entry.apartment->deliveries());
      result = op.run(*entry.object, args);
    }
    // Before the answer, so that a stop from now on can name it.
    if (entry.object->HasPendingWork())
      pending_.Accepted(entry.path, entry.object->PendingWorkName());
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
    std::string line = std::string(ShortPath(entry.path)) + ": " + std::string(op.name) + ": E" +
                       std::to_string(e.number()) + " " + e.source() + ": " + e.description();
    if (op.changes_settings) line.append(" by ").append(writer);
    ServerLog(line);
    SendError(connection_.get(), call, e);
  } catch (...) {
    SendError(connection_.get(), call, RunTimeError(kErrInternal, kBoundary));
  }
}

void BusServer::Destroy(std::shared_ptr<ObjectEntry> entry, std::string_view why) {
  ServerLog(std::string(ShortPath(entry->path)) + ": " + std::string(why));
  Apartment& apartment = *entry->apartment;
  apartment.Post([this, entry = std::move(entry)] {
    entry->object.reset();  // an undispatched request goes with it
    pending_.Ended(entry->path);
    ReturnTicket(entry->request, *entry->apartment);
    --live_objects_;
    if (!stopping_) OnMain([this] { CheckIdle(); });
  });
}

}  // namespace qz
