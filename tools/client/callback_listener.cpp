#include "client/callback_listener.h"

#include "contract/contract.h"

namespace qz::client {

CallbackListener::~CallbackListener() {
  if (registration_) g_dbus_connection_unregister_object(connection_, registration_);
  if (details_subscription_)
    g_dbus_connection_signal_unsubscribe(connection_, details_subscription_);
}

void CallbackListener::WatchDetails(std::string_view server_name, const std::string& object_path) {
  // Not the broadcast on the factory path: the system bus keeps that from
  // outsiders.
  details_subscription_ = g_dbus_connection_signal_subscribe(
      connection_, std::string(server_name).c_str(), kMonitorInterface, kDeliveredSignal,
      object_path.c_str(), expected_id_.c_str(), G_DBUS_SIGNAL_FLAGS_NONE,
      &CallbackListener::OnDelivered, this, nullptr);
}

void CallbackListener::OnDelivered(GDBusConnection*, const char*, const char*, const char*,
                                   const char*, GVariant* parameters, gpointer self) {
  auto* listener = static_cast<CallbackListener*>(self);
  if (listener->details_ || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssas)"))) return;
  const char* test_id = nullptr;
  const char* outcome = nullptr;
  GVariantIter* raw = nullptr;
  g_variant_get(parameters, "(&s&sas)", &test_id, &outcome, &raw);
  VariantIterPtr lines(raw);
  if (listener->expected_id_ != test_id) return;
  std::vector<std::string> details;
  for (const char* line = nullptr; g_variant_iter_next(lines.get(), "&s", &line);)
    details.emplace_back(line);
  listener->details_ = std::move(details);
  if (listener->details_loop_) g_main_loop_quit(listener->details_loop_);
}

std::optional<std::vector<std::string>> CallbackListener::Details(int timeout_ms) {
  // The signal and the callback leave the server close together, in either
  // order; a signal the bus does not pass on (policy) ends in the timeout.
  g_main_context_iteration(nullptr, FALSE);
  if (details_ || !details_subscription_) return details_;
  MainLoopPtr loop(g_main_loop_new(nullptr, FALSE));
  details_loop_ = loop.get();
  timeout_id_ = g_timeout_add(
      static_cast<guint>(timeout_ms),
      [](gpointer self) -> gboolean {
        auto* listener = static_cast<CallbackListener*>(self);
        listener->timeout_id_ = 0;  // the source goes with this return
        g_main_loop_quit(listener->details_loop_);
        return G_SOURCE_REMOVE;
      },
      this);
  g_main_loop_run(loop.get());
  if (timeout_id_) g_source_remove(timeout_id_);
  timeout_id_ = 0;
  details_loop_ = nullptr;
  return details_;
}

bool CallbackListener::Export(ErrorPtr& error) {
  NodeInfoPtr node(g_dbus_node_info_new_for_xml(kAgentCallbackXml, ErrorSlot(error)));
  if (!node) return false;
  static const GDBusInterfaceVTable kVTable = {
      &CallbackListener::OnMethodCall, nullptr, nullptr, {}};
  registration_ = g_dbus_connection_register_object(connection_, std::string(kPath).c_str(),
                                                    node->interfaces[0], &kVTable, this, nullptr,
                                                    ErrorSlot(error));
  return registration_ != 0;
}

void CallbackListener::OnMethodCall(GDBusConnection*, const char*, const char*, const char*,
                                    const char*, GVariant* parameters,
                                    GDBusMethodInvocation* invocation, gpointer self) {
  auto* listener = static_cast<CallbackListener*>(self);
  const char* test_id = nullptr;
  const char* message = nullptr;
  g_variant_get(parameters, "(&s&s)", &test_id, &message);
  // A late callback of an earlier request on this path is not ours.
  if (!listener->delivered_ && listener->expected_id_ == test_id) {
    listener->delivered_ = true;
    listener->message_ = message;
    listener->Finish(Outcome::kDelivered);
  }
  // The server asks for no reply; GDBus then sends none.
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

void CallbackListener::Finish(Outcome outcome) {
  outcome_ = outcome;
  if (loop_) g_main_loop_quit(loop_);
}

CallbackListener::Outcome CallbackListener::Wait(std::string_view server_name,
                                                 int timeout_seconds) {
  // Callbacks that came while the request call blocked are still queued on
  // the default context; they run in the first iteration below.
  MainLoopPtr loop(g_main_loop_new(nullptr, FALSE));
  loop_ = loop.get();
  outcome_ = Outcome::kTimedOut;

  // Milliseconds: a seconds timeout may fire up to a second early.
  timeout_id_ = g_timeout_add(
      static_cast<guint>(timeout_seconds) * 1000,
      [](gpointer self) -> gboolean {
        auto* listener = static_cast<CallbackListener*>(self);
        listener->timeout_id_ = 0;  // the source goes with this return
        listener->Finish(Outcome::kTimedOut);
        return G_SOURCE_REMOVE;
      },
      this);
  guint watch_id = g_bus_watch_name_on_connection(
      connection_, std::string(server_name).c_str(), G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
      [](GDBusConnection*, const char*, gpointer self) {
        auto* listener = static_cast<CallbackListener*>(self);
        if (!listener->delivered_) listener->Finish(Outcome::kServerGone);
      },
      this, nullptr);

  if (!delivered_) g_main_loop_run(loop.get());
  g_bus_unwatch_name(watch_id);
  if (timeout_id_) g_source_remove(timeout_id_);
  timeout_id_ = 0;
  loop_ = nullptr;
  return delivered_ ? Outcome::kDelivered : outcome_;
}

}  // namespace qz::client
