// Work due at wall-clock times (Unix ms), run on one GMainContext by a
// single timeout source armed for the earliest entry: any number of
// waiting entries cost one wake-up at each due time and none between, and
// no source of their own. Entries due together run a slice per dispatch,
// so a ping or a call on the same context is answered between slices.
// Owned by one context: add, cancel and destroy on its thread only.
// Work may add or cancel entries, and may destroy the handle it ran from.
#pragma once

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "automation/context_post.h"
#include "platform/holders.h"

namespace qz {

class TimerQueue {
 public:
  using Key = std::pair<int64_t, uint64_t>;  // due Unix ms, then the order added

  // Cancels its entry when it goes, unless the entry ran already.
  class Handle {
   public:
    Handle() = default;
    ~Handle() { Cancel(); }
    Handle(Handle&& other) noexcept
        : queue_(std::exchange(other.queue_, nullptr)), key_(other.key_) {}
    Handle& operator=(Handle&& other) noexcept {
      if (this != &other) {
        Cancel();
        queue_ = std::exchange(other.queue_, nullptr);
        key_ = other.key_;
      }
      return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    void Cancel();

   private:
    friend class TimerQueue;
    Handle(TimerQueue* queue, Key key) : queue_(queue), key_(key) {}
    TimerQueue* queue_ = nullptr;
    Key key_{};
  };

  explicit TimerQueue(GMainContext* context) : context_(context) {}
  ~TimerQueue() = default;  // entries not run are dropped with their source
  TimerQueue(const TimerQueue&) = delete;
  TimerQueue& operator=(const TimerQueue&) = delete;

  // `work` runs once at `due_unix_ms` or later; never earlier.
  [[nodiscard]] Handle Add(int64_t due_unix_ms, Work work);
  // As Add, for work nobody cancels.
  void Schedule(int64_t due_unix_ms, Work work) {
    Handle kept = Add(due_unix_ms, std::move(work));
    kept.queue_ = nullptr;
  }

  size_t size() const { return entries_.size(); }
  std::optional<int64_t> NextDue() const;

 private:
  static gboolean OnDue(gpointer self);
  void Rearm();

  GMainContext* context_;
  std::map<Key, Work> entries_;
  uint64_t added_ = 0;
  SourcePtr source_;
  std::optional<int64_t> armed_for_;  // the due time source_ was set for
  bool running_ = false;              // within OnDue: it arms when done
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace qz
