#include "server/bus_server.h"

#include <glib-unix.h>

#include <cstring>

#include "automation/context_post.h"
#include "server/class_table.h"
#include "server/profiles_interface.h"
#include "server/replies.h"
#include "server/server_log.h"
#include "server/type_library.h"

namespace qz {
namespace {

constexpr std::string_view kIntrospectable = "org.freedesktop.DBus.Introspectable";

bool Is(const char* text, std::string_view expected) { return text && expected == text; }

// Nodes above the object root, so that tree walkers find their way down.
std::vector<std::string> ChildrenAboveRoot(std::string_view path) {
  if (path == "/") return {"org"};
  if (path == "/org") return {"qznotes"};
  if (path == "/org/qznotes") return {"QzNotes"};
  return {};
}

}  // namespace

BusServer::BusServer(GDBusConnection* connection, ServerOptions options, ComponentRegistry& components)
    : connection_(G_DBUS_CONNECTION(g_object_ref(connection))),
      options_(std::move(options)),
      seat_(options_.seat),
      registry_(options_.folder + "/" + std::string(kRegistryFileName)),
      env_{options_.folder, components, channels_, seat_, &registry_},
      main_context_(g_main_context_ref(g_main_context_default())),
      loop_(g_main_loop_new(main_context_, FALSE)),
      pool_(options_.apartments) {
  owner_subscription_ = g_dbus_connection_signal_subscribe(
      connection_, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
      "/org/freedesktop/DBus", nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters,
         gpointer self) { static_cast<BusServer*>(self)->OnNameOwnerChanged(parameters); },
      this, nullptr);
  filter_id_ = g_dbus_connection_add_filter(connection_, &BusServer::Filter, this, nullptr);
  // Without its bus the server can reach no client: end like an idle server.
  closed_handler_ = g_signal_connect(connection_, "closed",
                                     G_CALLBACK(+[](GDBusConnection*, gboolean, GError*, gpointer self) {
                                       auto* server = static_cast<BusServer*>(self);
                                       server->OnMain([server] {
                                         ServerLog("bus connection closed: exiting");
                                         server->exit_status_ = 1;
                                         g_main_loop_quit(server->loop_);
                                       });
                                     }),
                                     this);
}

BusServer::~BusServer() {
  g_signal_handler_disconnect(connection_, closed_handler_);
  g_dbus_connection_remove_filter(connection_, filter_id_);
  g_dbus_connection_signal_unsubscribe(connection_, owner_subscription_);
  if (linger_) {
    g_source_destroy(linger_);
    g_source_unref(linger_);
  }
  for (auto& entry : table_.RemoveAll()) entry->apartment->Call([&] { entry->object.reset(); });
  g_main_loop_unref(loop_);
  g_main_context_unref(main_context_);
  g_object_unref(connection_);
}

void BusServer::OnMain(std::function<void()> work) { PostToContext(main_context_, std::move(work)); }

GDBusMessage* BusServer::Filter(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer self) {
  if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL)
    return message;
  if (!static_cast<BusServer*>(self)->Route(message)) return message;
  g_object_unref(message);  // consumed: the handlers hold their own references
  return nullptr;
}

bool BusServer::Route(GDBusMessage* call) {
  const char* path = g_dbus_message_get_path(call);
  const char* iface = g_dbus_message_get_interface(call);
  const char* member = g_dbus_message_get_member(call);
  if (!path || !member || Is(iface, "org.freedesktop.DBus.Peer")) return false;
  std::string_view p(path);
  bool introspect = Is(member, "Introspect") && (!iface || Is(iface, kIntrospectable));

  if (p != kObjectRoot && !p.starts_with(std::string(kObjectRoot) + "/")) {
    std::vector<std::string> children = ChildrenAboveRoot(p);
    if (!introspect || children.empty()) return false;
    SendReply(connection_, call, g_variant_new("(s)", NodeXml(children).c_str()));
    return true;
  }
  ++activity_;
  if (introspect) {
    std::shared_ptr<ObjectEntry> entry = p == kObjectRoot ? nullptr : table_.Find(p);
    std::string xml = p == kObjectRoot ? FactoryXml()
                      : entry          ? ObjectXml(*entry->description)
                                       : NodeXml(table_.ChildrenOf(p));
    SendReply(connection_, call, g_variant_new("(s)", xml.c_str()));
    return true;
  }
  g_object_ref(call);  // the handler chosen below lets go of it
  if (p == kObjectRoot)
    RouteFactoryCall(call, iface, member);
  else
    RouteObjectCall(call, p, iface, member);
  return true;
}

void BusServer::RouteFactoryCall(GDBusMessage* call, const char* iface, const char* member) {
  const Operation* op = iface && NotifyClass().HasInterface(iface) ? NotifyClass().FindByName(member) : nullptr;
  if (op && !stopping_) {
    RunOnTransientObject(call, *op);
  } else if (Is(iface, kProfilesInterface)) {
    OnMain([this, call] {
      AnswerProfilesCall(connection_, call, registry_);
      g_object_unref(call);
    });
  } else if (Is(member, "CreateObject") && (!iface || Is(iface, "org.qznotes.QzNotes.ClassFactory"))) {
    OnMain([this, call] {
      CreateObject(call);
      g_object_unref(call);
    });
  } else {
    SendError(connection_, call, RunTimeError(kErrNoSuchMember, "QzNotes"));
    g_object_unref(call);
  }
}

void BusServer::RouteObjectCall(GDBusMessage* call, std::string_view path, const char* iface,
                                const char* member) {
  std::shared_ptr<ObjectEntry> entry = table_.Find(path);
  const Operation* op = entry && (!iface || entry->description->HasInterface(iface))
                            ? entry->description->FindByName(member)
                            : nullptr;
  if (!entry) {
    SendErrorNamed(connection_, call, "org.freedesktop.DBus.Error.UnknownObject",
                   "No such object: " + std::string(path));
    g_object_unref(call);
  } else if (op && !op->property_put) {
    RunOperation(entry, call, *op, false);
  } else if (!iface || Is(iface, kDispatchInterface)) {
    OnMain([this, call, entry] {
      DispatchSlot(call, entry);
      g_object_unref(call);
    });
  } else {
    SendError(connection_, call, RunTimeError(kErrNoSuchMember, "QzNotes"));
    g_object_unref(call);
  }
}

int BusServer::Run() {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
      g_variant_new("(su)", kBusName, 4u /* DO_NOT_QUEUE */), G_VARIANT_TYPE("(u)"),
      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
  if (!reply) {
    ServerLog(std::string("cannot request ") + kBusName + ": " + error->message);
    g_error_free(error);
    return 1;
  }
  guint32 result = 0;
  g_variant_get(reply, "(u)", &result);
  g_variant_unref(reply);
  if (result != 1 /* PRIMARY_OWNER */) {
    ServerLog(std::string(kBusName) + " is owned by another process");
    return 1;
  }
  ServerLog(std::string("serving ") + kBusName + " from folder " + options_.folder);

  auto on_signal = [](gpointer self) -> gboolean {
    static_cast<BusServer*>(self)->BeginShutdown();
    return G_SOURCE_CONTINUE;
  };
  guint term = g_unix_signal_add(SIGTERM, on_signal, this);
  guint intr = g_unix_signal_add(SIGINT, on_signal, this);
  CheckIdle();
  g_main_loop_run(loop_);
  g_source_remove(term);
  g_source_remove(intr);

  for (auto& entry : table_.RemoveAll()) Destroy(entry, "server stopping");
  // Release the name before the objects' apartments wind down, so an
  // activation for the next client starts a fresh daemon.
  reply = g_dbus_connection_call_sync(connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                      "org.freedesktop.DBus", "ReleaseName", g_variant_new("(s)", kBusName),
                                      nullptr, G_DBUS_CALL_FLAGS_NONE, 2000, nullptr, nullptr);
  if (reply) g_variant_unref(reply);
  g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
  ServerLog("stopped");
  return exit_status_;
}

}  // namespace qz
