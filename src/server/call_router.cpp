#include "server/call_router.h"

#include <string>
#include <string_view>
#include <vector>

#include "server/call_arguments.h"
#include "server/caller_standing.h"
#include "server/heap_trim.h"
#include "server/journal_interface.h"
#include "server/profiles_interface.h"
#include "server/replies.h"
#include "server/served_classes.h"
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

CallRouter::CallRouter(GDBusConnection* connection, const ServerOptions& options,
                       const ServerEnvironment& env, CallAdmission& admission, CallerUids& uids,
                       ObjectCalls& objects, ServerLifetime& lifetime, const StatusSources* status)
    : connection_(Ref(connection)),
      system_bus_(options.system_bus),
      registry_(env.registry),
      journal_(env.journal),
      folder_(env.folder),
      admission_(admission),
      uids_(uids),
      objects_(objects),
      lifetime_(lifetime),
      status_(status),
      main_context_(g_main_context_ref(g_main_context_default())),
      trimmer_(main_context_.get()) {
  filter_id_ = g_dbus_connection_add_filter(connection_.get(), &CallRouter::Filter, this, nullptr);
}

CallRouter::~CallRouter() { g_dbus_connection_remove_filter(connection_.get(), filter_id_); }

void CallRouter::OnMain(Work work) { PostToContext(main_context_.get(), std::move(work)); }

GDBusMessage* CallRouter::Filter(GDBusConnection*, GDBusMessage* message, gboolean incoming,
                                 gpointer self) {
  if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL)
    return message;
  auto* router = static_cast<CallRouter*>(self);
  router->trimmer_.TrimWhenFreed(message);
  MessagePtr call(message);
  router->Route(call);
  return call.release();  // null when a handler took it over
}

void CallRouter::Route(MessagePtr& held) {
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
  lifetime_.NoteCall();
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
  std::shared_ptr<ObjectEntry> entry = objects_.Find(p);
  if (!system_bus_ || !sender || (entry && entry->owner == sender)) {
    RouteBelowFactory(std::move(held), false);
    return;
  }
  std::string name(sender);
  OnceUserKnown(call, [this, name, call = std::move(held)]() mutable {
    auto uid = uids_.Cached(name);
    RouteBelowFactory(std::move(call), uid && *uid == 0);
  });
}

void CallRouter::RouteBelowFactory(MessagePtr call, bool privileged) {
  const char* sender = g_dbus_message_get_sender(call.get());
  std::string caller = sender ? sender : "";
  auto visible = [&](const ObjectEntry& entry) {
    return privileged || (sender && entry.owner == caller);
  };
  std::string_view path = g_dbus_message_get_path(call.get());
  const char* iface = g_dbus_message_get_interface(call.get());
  const char* member = g_dbus_message_get_member(call.get());
  std::shared_ptr<ObjectEntry> entry = objects_.Find(path);
  if (entry && !visible(*entry)) entry.reset();  // as if it did not exist
  if (Is(member, "Introspect") && (!iface || Is(iface, kIntrospectable))) {
    std::string xml =
        entry ? ObjectXml(*entry->description) : NodeXml(objects_.ChildrenOf(path, visible));
    SendReply(connection_.get(), call.get(), g_variant_new("(s)", xml.c_str()));
    return;
  }
  RouteObjectCall(std::move(call), std::move(entry), iface, member);
}

void CallRouter::RouteFactoryCall(MessagePtr call, const char* iface, const char* member) {
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
    GDBusMessage* message = call.get();  // the work below holds it
    OnceUserKnown(message, [this, call = std::move(call), served, op, invoke]() mutable {
      // Checked and entered as one step against an idle exit deciding meanwhile.
      const bool taken = objects_.TakeUnlessStopping([&] {
        if (auto ticket = admission_.Admit(call.get(), *op, false))
          objects_.RunOnTransientObject(std::move(call), *served, *op, invoke, std::move(*ticket));
      });
      if (!taken) SendStoppingError(connection_.get(), call.get());
    });
  } else if (Is(iface, kProfilesInterface) && registry_) {
    OnMain([this, call = std::move(call)] {
      AnswerProfilesCall(connection_.get(), call.get(), *registry_);
    });
  } else if (Is(iface, kStatusInterface) && status_) {
    OnMain([this, call = std::move(call)] {
      AnswerStatusCall(connection_.get(), call.get(), *status_);
    });
  } else if (Is(iface, kJournalInterface)) {
    GDBusMessage* message = call.get();
    OnceUserKnown(message, [this, call = std::move(call)]() mutable {
      OnMain([this, call = std::move(call)] { AnswerJournal(call.get()); });
    });
  } else if (create) {
    if (objects_.stopping()) return SendStoppingError(connection_.get(), call.get());
    GDBusMessage* message = call.get();
    OnceUserKnown(message, [this, call = std::move(call)]() mutable {
      if (!objects_.TakeCreate(call)) SendStoppingError(connection_.get(), call.get());
    });
  } else {
    SendError(connection_.get(), call.get(), RunTimeError(kErrNoSuchMember, kBoundarySource));
  }
}

void CallRouter::AnswerJournal(GDBusMessage* call) {
  // Dead letters name every user's requests and recipients: the bus policy
  // keeps outsiders away, and so does the server where no policy applies.
  const char* sender = g_dbus_message_get_sender(call);
  if (system_bus_ && sender) {
    const std::optional<uid_t> uid = uids_.Cached(sender);
    if (!uid || !UserIsInsider(*uid))
      return SendErrorNamed(connection_.get(), call, kAccessDeniedError,
                            "only root and members of the group qznotes may use the journal");
  }
  AnswerJournalCall({connection_.get(), journal_, objects_, folder_}, call);
}

void CallRouter::OnceUserKnown(GDBusMessage* call, Work then) {
  const char* sender = g_dbus_message_get_sender(call);
  if (!system_bus_ || !sender || uids_.Cached(sender)) return then();
  // The bus has to be asked, which this thread never waits for; meanwhile
  // the call's bytes count against the limits that need no user.
  std::optional<CallerLedger::Ticket> waiting = admission_.AdmitWaiting(call);
  if (!waiting) return;  // refused: `then` lets the call go unrun
  uids_.WhenKnown(sender, [waiting = std::move(waiting), then = std::move(then)]() mutable {
    waiting.reset();  // before `then` counts the call as its user's
    then();
  });
}

void CallRouter::RouteObjectCall(MessagePtr call, std::shared_ptr<ObjectEntry> entry,
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
  if (objects_.stopping() && ((op && !op->property_put) || invoke)) {
    SendStoppingError(connection_.get(), call.get());
  } else if (op && !op->property_put) {
    if (auto ticket = admission_.Admit(call.get(), *op, false))
      objects_.RunOperation(std::move(entry), std::move(call), *op, false, std::move(*ticket));
  } else if (invoke) {
    // Straight to the apartment like a named call, so calls stay in order.
    try {
      RequireSignature(call.get(), "(iav)");
      int32_t dispid = 0;
      g_variant_get_child(g_dbus_message_get_body(call.get()), 0, "i", &dispid);
      const Operation* invoked = description.FindByDispId(dispid);
      if (!invoked) throw RunTimeError(kErrNoSuchMember, kBoundarySource);
      if (auto ticket = admission_.Admit(call.get(), *invoked, true))
        objects_.RunOperation(std::move(entry), std::move(call), *invoked, true,
                              std::move(*ticket));
    } catch (const RunTimeError& e) {
      SendError(connection_.get(), call.get(), e);
    }
  } else if (dispatch_slot) {
    GVariant* body = g_dbus_message_get_body(call.get());
    if (auto passed = CheckArguments(admission_.limits(), body, false))
      return admission_.RefuseOverLimit(call.get(), *passed);
    OnMain([this, call = std::move(call), entry = std::move(entry)] {
      objects_.DispatchSlot(call.get(), entry);
    });
  } else {
    SendError(connection_.get(), call.get(), RunTimeError(kErrNoSuchMember, kBoundarySource));
  }
}

}  // namespace qz
