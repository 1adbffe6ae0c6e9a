#include "server/bus_server.h"

#include <glib-unix.h>

#include <cstring>

#include "automation/context_post.h"
#include "dispatch/request_journal.h"
#include "server/call_arguments.h"
#include "server/profiles_interface.h"
#include "server/replies.h"
#include "server/served_classes.h"
#include "server/server_log.h"
#include "server/type_library.h"

namespace qz {
namespace {

bool Is(const char* text, std::string_view expected) { return text && expected == text; }

// Nodes above the object root, so that tree walkers find their way down.
std::vector<std::string> ChildrenAboveRoot(std::string_view path) {
  if (path == "/") return {"org"};
  if (path == "/org") return {"qznotes"};
  if (path == "/org/qznotes") return {"QzNotes"};
  return {};
}

}  // namespace

BusServer::BusServer(GDBusConnection* connection, ServerOptions options, ServerEnvironment env)
    : connection_(Ref(connection)),
      options_(std::move(options)),
      env_(std::move(env)),
      ledger_(options_.limits),
      main_context_(g_main_context_ref(g_main_context_default())),
      uids_(connection, main_context_.get()),
      loop_(g_main_loop_new(main_context_.get(), FALSE)),
      pool_(options_.apartments) {
  owner_subscription_ = g_dbus_connection_signal_subscribe(
      connection_.get(), "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
      "/org/freedesktop/DBus", nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters,
         gpointer self) { static_cast<BusServer*>(self)->OnNameOwnerChanged(parameters); },
      this, nullptr);
  filter_id_ = g_dbus_connection_add_filter(connection_.get(), &BusServer::Filter, this, nullptr);
  // Without its bus the server can reach no client: end like an idle server.
  closed_handler_ =
      g_signal_connect(connection_.get(), "closed",
                       G_CALLBACK(+[](GDBusConnection*, gboolean, GError*, gpointer self) {
                         auto* server = static_cast<BusServer*>(self);
                         // Objects about to go take no request with them.
                         if (server->env_.journal) server->env_.journal->KeepEverything();
                         server->OnMain([server] {
                           ServerLog("bus connection closed: exiting");
                           server->exit_status_ = 1;
                           g_main_loop_quit(server->loop_.get());
                         });
                       }),
                       this);
}

BusServer::~BusServer() {
  g_signal_handler_disconnect(connection_.get(), closed_handler_);
  g_dbus_connection_remove_filter(connection_.get(), filter_id_);
  g_dbus_connection_signal_unsubscribe(connection_.get(), owner_subscription_);
  linger_.reset();
  grace_.reset();
  for (auto& entry : table_.RemoveAll()) entry->apartment->Call([&] { entry->object.reset(); });
}

void BusServer::OnMain(Work work) { PostToContext(main_context_.get(), std::move(work)); }

GDBusMessage* BusServer::Filter(GDBusConnection*, GDBusMessage* message, gboolean incoming,
                                gpointer self) {
  if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL)
    return message;
  MessagePtr call(message);
  static_cast<BusServer*>(self)->Route(call);
  return call.release();  // null when a handler took it over
}

void BusServer::Route(MessagePtr& held) {
  GDBusMessage* call = held.get();
  const char* path = g_dbus_message_get_path(call);
  const char* iface = g_dbus_message_get_interface(call);
  const char* member = g_dbus_message_get_member(call);
  if (!path || !member || Is(iface, kPeer)) return;
  std::string_view p(path);
  bool introspect = Is(member, "Introspect") && (!iface || Is(iface, kIntrospectable));

  if (p != kFactoryPath && !p.starts_with(std::string(kFactoryPath) + "/")) {
    std::vector<std::string> children = ChildrenAboveRoot(p);
    if (!introspect || children.empty()) return;
    SendReply(connection_.get(), call, g_variant_new("(s)", NodeXml(children).c_str()));
    held.reset();
    return;
  }
  ++activity_;
  if (p == kFactoryPath) {
    if (introspect) {
      SendReply(connection_.get(), call, g_variant_new("(s)", FactoryXml().c_str()));
      held.reset();
    } else {
      RouteFactoryCall(std::move(held), iface, member);
    }
    return;
  }
  // Objects answer their creator only, and on the system bus root too.
  const char* sender = g_dbus_message_get_sender(call);
  std::shared_ptr<ObjectEntry> entry = table_.Find(p);
  if (!options_.system_bus || !sender || (entry && entry->owner == sender)) {
    RouteBelowFactory(std::move(held), false);
    return;
  }
  std::string name(sender);
  if (auto uid = uids_.Cached(name)) {
    RouteBelowFactory(std::move(held), *uid == 0);
    return;
  }
  // The bus has to be asked, which this thread never waits for.
  uids_.WhenKnown(name, [this, name, call = std::move(held)]() mutable {
    auto uid = uids_.Cached(name);
    RouteBelowFactory(std::move(call), uid && *uid == 0);
  });
}

void BusServer::RouteBelowFactory(MessagePtr call, bool privileged) {
  const char* sender = g_dbus_message_get_sender(call.get());
  std::string caller = sender ? sender : "";
  auto visible = [&](const ObjectEntry& entry) {
    return privileged || (sender && entry.owner == caller);
  };
  std::string_view path = g_dbus_message_get_path(call.get());
  const char* iface = g_dbus_message_get_interface(call.get());
  const char* member = g_dbus_message_get_member(call.get());
  std::shared_ptr<ObjectEntry> entry = table_.Find(path);
  if (entry && !visible(*entry)) entry.reset();  // as if it did not exist
  if (Is(member, "Introspect") && (!iface || Is(iface, kIntrospectable))) {
    std::string xml =
        entry ? ObjectXml(*entry->description) : NodeXml(table_.ChildrenOf(path, visible));
    SendReply(connection_.get(), call.get(), g_variant_new("(s)", xml.c_str()));
    return;
  }
  RouteObjectCall(std::move(call), std::move(entry), iface, member);
}

void BusServer::RouteFactoryCall(MessagePtr call, const char* iface, const char* member) {
  const ClassDescription* served = iface ? FactoryServedClass(iface) : nullptr;
  const Operation* op = served ? served->FindByName(member) : nullptr;
  bool create = Is(member, kCreateObject) && (!iface || Is(iface, kFactoryInterface));
  // Invoke on the factory path reaches the operations served there by their
  // dispatch identifiers, as it does on an object.
  bool invoke = !op && Is(member, "Invoke") && (!iface || Is(iface, kDispatchInterface));
  if (invoke) {
    try {
      RequireSignature(call.get(), "(iav)");
      int32_t dispid = 0;
      g_variant_get_child(g_dbus_message_get_body(call.get()), 0, "i", &dispid);
      served = FactoryInvokeClass();
      op = served ? served->FindByDispId(dispid) : nullptr;
      if (!op) throw RunTimeError(kErrNoSuchMember, kBoundarySource);
    } catch (const RunTimeError& e) {
      return SendError(connection_.get(), call.get(), e);
    }
  }
  if (op) {
    // Checked and entered as one step against an idle exit deciding meanwhile.
    std::unique_lock lock(stop_mutex_);
    if (stopping_) return RefuseWhileStopping(call.get());
    if (auto ticket = Admit(call.get(), *op, false))
      RunOnTransientObject(std::move(call), *served, *op, invoke, std::move(*ticket));
  } else if (Is(iface, kProfilesInterface) && env_.registry) {
    OnMain([this, call = std::move(call)] {
      AnswerProfilesCall(connection_.get(), call.get(), *env_.registry);
    });
  } else if (create) {
    if (stopping_) return RefuseWhileStopping(call.get());
    OnMain([this, call = std::move(call)] { CreateObject(call.get()); });
  } else {
    SendError(connection_.get(), call.get(), RunTimeError(kErrNoSuchMember, kBoundarySource));
  }
}

void BusServer::RouteObjectCall(MessagePtr call, std::shared_ptr<ObjectEntry> entry,
                                const char* iface, const char* member) {
  if (!entry) {
    SendErrorNamed(connection_.get(), call.get(), kUnknownObjectError,
                   "No such object: " + std::string(g_dbus_message_get_path(call.get())));
    return;
  }
  const ClassDescription& description = *entry->description;
  bool dispatch_slot = !iface || Is(iface, kDispatchInterface);
  const Operation* op =
      !iface || description.HasInterface(iface) ? description.FindByName(member) : nullptr;
  bool invoke = dispatch_slot && Is(member, "Invoke");
  if (stopping_ && ((op && !op->property_put) || invoke)) {
    RefuseWhileStopping(call.get());
  } else if (op && !op->property_put) {
    if (auto ticket = Admit(call.get(), *op, false))
      RunOperation(std::move(entry), std::move(call), *op, false, std::move(*ticket));
  } else if (invoke) {
    // Straight to the apartment like a named call, so calls stay in order.
    try {
      RequireSignature(call.get(), "(iav)");
      int32_t dispid = 0;
      g_variant_get_child(g_dbus_message_get_body(call.get()), 0, "i", &dispid);
      const Operation* invoked = description.FindByDispId(dispid);
      if (!invoked) throw RunTimeError(kErrNoSuchMember, kBoundarySource);
      if (auto ticket = Admit(call.get(), *invoked, true))
        RunOperation(std::move(entry), std::move(call), *invoked, true, std::move(*ticket));
    } catch (const RunTimeError& e) {
      SendError(connection_.get(), call.get(), e);
    }
  } else if (dispatch_slot) {
    GVariant* body = g_dbus_message_get_body(call.get());
    if (auto passed = CheckArguments(options_.limits, body, false))
      return RefuseOverLimit(call.get(), *passed);
    OnMain([this, call = std::move(call), entry = std::move(entry)] {
      DispatchSlot(call.get(), entry);
    });
  } else {
    SendError(connection_.get(), call.get(), RunTimeError(kErrNoSuchMember, kBoundarySource));
  }
}

void BusServer::RefuseWhileStopping(GDBusMessage* call) {
  SendErrorNamed(connection_.get(), call, kStoppingError,
                 "qznotesd is stopping: the call was not run");
}

int BusServer::Run() {
  ErrorPtr error;
  VariantPtr reply(g_dbus_connection_call_sync(
      connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "RequestName", g_variant_new("(su)", kBusName, 4u /* DO_NOT_QUEUE */), G_VARIANT_TYPE("(u)"),
      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, ErrorSlot(error)));
  if (!reply) {
    ServerLog(std::string("cannot request ") + kBusName + ": " + ErrorText(error));
    return 1;
  }
  guint32 result = 0;
  g_variant_get(reply.get(), "(u)", &result);
  if (result != 1 /* PRIMARY_OWNER */) {
    ServerLog(std::string(kBusName) + " is owned by another process");
    return 1;
  }
  ServerLog(std::string("serving ") + kBusName + " from folder " + env_.folder);
  // Only once the name is ours, so no other daemon runs the same requests.
  ReplayJournal();

  auto on_signal = [](gpointer self) -> gboolean {
    static_cast<BusServer*>(self)->BeginShutdown();
    return G_SOURCE_CONTINUE;
  };
  guint term = g_unix_signal_add(SIGTERM, on_signal, this);
  guint intr = g_unix_signal_add(SIGINT, on_signal, this);
  CheckIdle();
  g_main_loop_run(loop_.get());
  g_source_remove(term);
  g_source_remove(intr);

  // The name was released when the stop was decided (lifetime.cpp).
  for (auto& entry : table_.RemoveAll()) Destroy(entry, "server stopping");
  g_dbus_connection_flush_sync(connection_.get(), nullptr, nullptr);
  ServerLog("stopped");
  return exit_status_;
}

}  // namespace qz
