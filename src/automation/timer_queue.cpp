#include "automation/timer_queue.h"

#include <algorithm>
#include <memory>

namespace qz {
namespace {

// Entries run per dispatch when many are due at once.
constexpr size_t kTimerQueueSlice = 64;

int64_t QueueClockMs() { return g_get_real_time() / 1000; }

}  // namespace

void TimerQueue::Handle::Cancel() {
  TimerQueue* queue = std::exchange(queue_, nullptr);
  if (!queue) return;
  auto it = queue->entries_.find(key_);
  if (it == queue->entries_.end()) return;  // it ran
  const bool first = it == queue->entries_.begin();
  // Moved out first: its work may own a handle of this queue.
  Work dropped = std::move(it->second);
  queue->entries_.erase(it);
  if (first) queue->Rearm();
}

TimerQueue::Handle TimerQueue::Add(int64_t due_unix_ms, Work work) {
  const Key key{due_unix_ms, added_++};
  auto [it, added] = entries_.emplace(key, std::move(work));
  if (it == entries_.begin()) Rearm();
  return Handle(this, key);
}

std::optional<int64_t> TimerQueue::NextDue() const {
  if (entries_.empty()) return std::nullopt;
  return entries_.begin()->first.first;
}

void TimerQueue::Rearm() {
  if (running_) return;  // OnDue arms once its slice is done
  const std::optional<int64_t> due = NextDue();
  if (!due) {
    source_.reset();
    armed_for_.reset();
    return;
  }
  if (source_ && armed_for_ == due) return;
  const int64_t wait = std::clamp<int64_t>(*due - QueueClockMs(), 0, G_MAXUINT32);
  source_.reset(g_timeout_source_new(static_cast<guint>(wait)));
  g_source_set_callback(source_.get(), &TimerQueue::OnDue, this, nullptr);
  g_source_attach(source_.get(), context_);
  armed_for_ = due;
}

gboolean TimerQueue::OnDue(gpointer data) {
  auto* self = static_cast<TimerQueue*>(data);
  // The work may destroy the queue (its owner going): then nothing of it
  // is touched again.
  std::weak_ptr<bool> alive = self->alive_;
  self->running_ = true;
  const int64_t now = QueueClockMs();
  for (size_t n = 0; n < kTimerQueueSlice && !self->entries_.empty(); ++n) {
    auto first = self->entries_.begin();
    // A wall clock set back, or a timeout rounded short: not due yet.
    if (first->first.first > now) break;
    Work work = std::move(first->second);
    self->entries_.erase(first);
    work();
    if (alive.expired()) return G_SOURCE_REMOVE;
  }
  self->running_ = false;
  self->source_.reset();
  self->armed_for_.reset();
  self->Rearm();
  return G_SOURCE_REMOVE;
}

}  // namespace qz
