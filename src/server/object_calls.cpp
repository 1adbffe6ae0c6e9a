// The factory, the dispatch slots and the operations of served objects.
#include <cstring>

#include "automation/names.h"
#include "server/bus_server.h"
#include "server/call_arguments.h"
#include "server/remote_object.h"
#include "server/replies.h"
#include "server/server_log.h"
#include "server/type_library.h"

namespace qz {
namespace {

constexpr const char* kBoundary = kBoundarySource;

// "cNotify/3" of "/org/qznotes/QzNotes/cNotify/3", for log lines.
std::string_view ShortPath(std::string_view path) { return path.substr(std::string_view(kFactoryPath).size() + 1); }

std::unique_ptr<ServedObject> MakeObject(const ClassDescription& description, const ServerEnvironment& env,
                                         Apartment& apartment) {
  if (&description == &NotifyClass())
    return std::make_unique<NotifyObject>(env, apartment.context(), &apartment.deliveries());
  return std::make_unique<PagerObject>();
}

}  // namespace

void BusServer::CreateObject(GDBusMessage* call) {
  try {
    RequireSignature(call, "(s)");
    const char* progid = nullptr;
    g_variant_get(g_dbus_message_get_body(call), "(&s)", &progid);
    const ClassDescription* description = FindClass(progid);
    if (stopping_ || !description || !description->creatable)
      throw RunTimeError(kErrCannotCreate, "Can't create object", kBoundary);
    const char* sender = g_dbus_message_get_sender(call);
    auto entry = table_.Add(*description, sender ? sender : "", pool_.Assign());
    ++live_objects_;
    if (sender) ReleaseIfCreatorGone(entry->owner);
    g_object_ref(call);
    entry->apartment->Post([this, entry, call] {
      entry->object = MakeObject(*entry->description, env_, *entry->apartment);
      if (auto* notify = dynamic_cast<NotifyObject*>(entry->object.get())) {
        std::string who(ShortPath(entry->path));
        notify->notify().SetOutcomeListener([who](std::string_view test_id, std::string_view outcome) {
          ServerLog(who + ": request " + std::string(test_id) + ": " + std::string(outcome));
        });
      }
      SendReply(connection_, call, g_variant_new("(o)", entry->path.c_str()));
      g_object_unref(call);
    });
  } catch (const RunTimeError& e) {
    ServerLog(std::string("CreateObject: ") + e.description());
    SendError(connection_, call, e);
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
      connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
      g_variant_new("(s)", owner.c_str()), G_VARIANT_TYPE("(b)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Check> check(static_cast<Check*>(data));
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
        gboolean present = TRUE;
        if (reply) {
          g_variant_get(reply, "(b)", &present);
          g_variant_unref(reply);
        }
        if (present) return;
        for (auto& entry : check->server->table_.RemoveOwnedBy(check->owner))
          check->server->Destroy(entry, "creator " + check->owner + " left before its object was made");
      },
      check.release());
}

void BusServer::RunOperation(std::shared_ptr<ObjectEntry> entry, GDBusMessage* call, const Operation& op,
                             bool invoke) {
  entry->apartment->Post([this, entry, call, &op, invoke] {
    ExecuteOperation(*entry, call, op, invoke);
    g_object_unref(call);
  });
}

void BusServer::RunOnTransientObject(GDBusMessage* call, const Operation& op) {
  // In the table like any object, so a shutdown delivers its request too.
  auto entry = table_.Add(NotifyClass(), "", pool_.Assign());
  ++live_objects_;
  auto release = [this](const std::shared_ptr<ObjectEntry>& e, std::string_view why) {
    auto released = table_.Release(e->path);
    if (released && released->second) Destroy(released->second, why);
  };
  entry->apartment->Post([this, entry, call, &op, release] {
    auto object = std::make_unique<NotifyObject>(env_, entry->apartment->context(), &entry->apartment->deliveries());
    cNotify& notify = object->notify();
    entry->object = std::move(object);
    ExecuteOperation(*entry, call, op, false);
    g_object_unref(call);
    if (!notify.HasPendingRequest()) {
      release(entry, "one-shot call done");
      return;
    }
    // The object lives until its request has been delivered; it is
    // destroyed after the run, not inside it.
    notify.SetOutcomeListener([entry, release](std::string_view test_id, std::string_view outcome) {
      ServerLog(std::string(ShortPath(entry->path)) + ": request " + std::string(test_id) + ": " +
                std::string(outcome));
      release(entry, "one-shot request delivered");
    });
  });
}

void BusServer::ExecuteOperation(ObjectEntry& entry, GDBusMessage* call, const Operation& op, bool invoke) {
  const char* sender = g_dbus_message_get_sender(call);
  std::string caller = sender ? sender : "";
  ObjectResolver resolve = [this, caller](std::string_view bus, std::string_view path)
      -> std::shared_ptr<DispatchObject> {
    if (path == "/") return nullptr;
    return std::make_shared<RemoteObject>(connection_, bus.empty() ? caller : std::string(bus), std::string(path));
  };
  try {
    if (!entry.object) throw RunTimeError(kErrObjectNotSet, kBoundary);
    GVariant* body = g_dbus_message_get_body(call);
    std::vector<Variant> args;
    if (invoke) {
      GVariant* list = g_variant_get_child_value(body, 1);
      try {
        args = ArgumentsFromInvoke(op, list, resolve);
      } catch (...) {
        g_variant_unref(list);
        throw;
      }
      g_variant_unref(list);
    } else {
      args = ArgumentsFromNamedCall(op, body, resolve);
    }
    if (!op.run) throw RunTimeError(kErrNoSuchAction, kBoundary);
    Variant result = op.run(*entry.object, args);
    SendReply(connection_, call, invoke ? InvokeReply(op, result, args) : NamedReply(op, result, args));
    // Logged after the reply, so the write to the journal adds no latency.
    if (op.name.starts_with("SendMessageCallBack"))
      ServerLog(std::string(ShortPath(entry.path)) + ": " + std::string(op.name) + " " + args[5].Text() + ": " +
                result.Text());
  } catch (const RunTimeError& e) {
    ServerLog(std::string(ShortPath(entry.path)) + ": " + std::string(op.name) + ": E" + std::to_string(e.number()) +
              " " + e.source() + ": " + e.description());
    SendError(connection_, call, e);
  } catch (...) {
    SendError(connection_, call, RunTimeError(kErrInternal, kBoundary));
  }
}

void BusServer::Destroy(std::shared_ptr<ObjectEntry> entry, std::string_view why) {
  ServerLog(std::string(ShortPath(entry->path)) + ": " + std::string(why));
  Apartment& apartment = *entry->apartment;
  apartment.Post([this, entry = std::move(entry)] {
    entry->object.reset();  // an undispatched request goes with it
    --live_objects_;
    if (!stopping_) OnMain([this] { CheckIdle(); });
  });
}

}  // namespace qz
