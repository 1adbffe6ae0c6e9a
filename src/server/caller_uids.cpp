#include "server/caller_uids.h"

#include <memory>

#include "server/bus_names.h"

namespace qz {
namespace {

GVariant* UserQuery(const std::string& name) { return g_variant_new("(s)", name.c_str()); }

std::optional<uid_t> UidOf(GVariant* reply) {
  if (!reply) return std::nullopt;
  guint32 uid = 0;
  g_variant_get(reply, "(u)", &uid);
  return static_cast<uid_t>(uid);
}

}  // namespace

CallerUids::CallerUids(GDBusConnection* connection, GMainContext* context)
    : connection_(Ref(connection)), context_(context) {}

std::optional<uid_t> CallerUids::Cached(std::string_view name) const {
  std::lock_guard lock(mutex_);
  auto it = known_.find(name);
  return it == known_.end() ? std::nullopt : std::optional<uid_t>(it->second);
}

std::optional<uid_t> CallerUids::Lookup(const std::string& name) {
  if (auto uid = Cached(name)) return uid;
  std::optional<uid_t> uid = NameUser(connection_.get(), name);
  // Only unique names are kept: a well-known name may change hands.
  if (uid && name.starts_with(':')) {
    std::lock_guard lock(mutex_);
    known_.emplace(name, *uid);
  }
  return uid;
}

void CallerUids::WhenKnown(const std::string& name, Work then) {
  {
    std::lock_guard lock(mutex_);
    if (!known_.contains(name)) {
      auto& queue = waiting_[name];
      queue.push_back(std::move(then));
      if (queue.size() > 1) return;  // already asked
      PostToContext(context_, [this, name] { Ask(name); });
      return;
    }
  }
  then();
}

void CallerUids::Ask(const std::string& name) {
  struct Question {
    CallerUids* self;
    std::string name;
  };
  // The answer comes on the context this runs on.
  g_main_context_push_thread_default(context_);
  g_dbus_connection_call(
      connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
      "GetConnectionUnixUser", UserQuery(name), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE,
      kBusQuestionTimeoutMs, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Question> question(static_cast<Question*>(data));
        VariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr));
        question->self->Answered(question->name, UidOf(reply.get()));
      },
      std::make_unique<Question>(Question{this, name}).release());
  g_main_context_pop_thread_default(context_);
}

void CallerUids::Answered(const std::string& name, std::optional<uid_t> uid) {
  std::vector<Work> deferred;
  {
    std::lock_guard lock(mutex_);
    if (uid) known_.emplace(name, *uid);
    auto it = waiting_.find(name);
    if (it != waiting_.end()) {
      deferred = std::move(it->second);
      waiting_.erase(it);
    }
  }
  for (Work& work : deferred) work();
}

void CallerUids::Forget(std::string_view name) {
  std::lock_guard lock(mutex_);
  auto it = known_.find(name);
  if (it != known_.end()) known_.erase(it);
}

}  // namespace qz
