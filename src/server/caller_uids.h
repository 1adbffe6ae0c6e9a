// The Unix user behind each unique bus name that called the server, asked
// from the bus once and cached until the name leaves. The GDBus worker
// thread must never wait for the bus, so it defers work until the answer is
// in (WhenKnown); apartment threads may ask and wait (Lookup). Safe from any
// thread.
#pragma once

#include <gio/gio.h>
#include <sys/types.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/context_post.h"
#include "platform/holders.h"

namespace qz {

class CallerUids {
 public:
  // Asynchronous questions are asked from, and answered on, `context`.
  CallerUids(GDBusConnection* connection, GMainContext* context);
  CallerUids(const CallerUids&) = delete;
  CallerUids& operator=(const CallerUids&) = delete;

  // The user of `name` when already known; never blocks.
  std::optional<uid_t> Cached(std::string_view name) const;
  // Asks the bus when not cached, waiting for the answer: not on the GDBus
  // worker thread. Nothing when the bus cannot say (the name is gone).
  std::optional<uid_t> Lookup(const std::string& name);
  // Runs `then` at once when the user of `name` is known, otherwise on the
  // context once the bus answered (or failed to). Work deferred for one name
  // runs in the order it was deferred.
  void WhenKnown(const std::string& name, Work then);
  // The name left the bus: its user is no longer kept.
  void Forget(std::string_view name);

 private:
  void Ask(const std::string& name);
  void Answered(const std::string& name, std::optional<uid_t> uid);

  ConnectionPtr connection_;
  GMainContext* context_;
  mutable std::mutex mutex_;
  std::map<std::string, uid_t, std::less<>> known_;
  std::map<std::string, std::vector<Work>, std::less<>> waiting_;
};

}  // namespace qz
