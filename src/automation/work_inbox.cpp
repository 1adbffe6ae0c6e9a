#include "automation/work_inbox.h"

#include <sys/eventfd.h>

#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "platform/unique_fd.h"

namespace qz {

struct WorkInbox::Queue {
  std::mutex mutex;
  std::deque<Work> waiting;
  UniqueFd wake{eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
};

namespace {

// GLib allocates the source zeroed; the queue's holder is built in place.
struct InboxSource {
  GSource base;
  std::shared_ptr<WorkInbox::Queue> queue;
};

gboolean Dispatch(GSource* source, GSourceFunc, gpointer) {
  WorkInbox::Queue& queue = *reinterpret_cast<InboxSource*>(source)->queue;
  eventfd_t count = 0;
  // Emptied before the batch is taken: a post after the take wakes us again.
  (void)eventfd_read(queue.wake.get(), &count);
  std::deque<Work> batch;
  {
    std::lock_guard lock(queue.mutex);
    batch.swap(queue.waiting);
  }
  for (Work& work : batch) work();
  return G_SOURCE_CONTINUE;
}

void Finalize(GSource* source) { std::destroy_at(&reinterpret_cast<InboxSource*>(source)->queue); }

GSourceFuncs kInboxFuncs = {nullptr, nullptr, Dispatch, Finalize, nullptr, nullptr};

}  // namespace

WorkInbox::WorkInbox(GMainContext* context) : queue_(std::make_shared<Queue>()) {
  if (!queue_->wake) throw std::runtime_error("cannot make an eventfd for an apartment");
  source_ = g_source_new(&kInboxFuncs, sizeof(InboxSource));
  std::construct_at(&reinterpret_cast<InboxSource*>(source_)->queue, queue_);
  g_source_set_priority(source_, G_PRIORITY_DEFAULT);
  g_source_add_unix_fd(source_, queue_->wake.get(), G_IO_IN);
  g_source_attach(source_, context);
}

WorkInbox::~WorkInbox() { g_source_unref(source_); }

void WorkInbox::Post(Work work) {
  bool was_empty = false;
  {
    std::lock_guard lock(queue_->mutex);
    was_empty = queue_->waiting.empty();
    queue_->waiting.push_back(std::move(work));
  }
  if (was_empty) (void)eventfd_write(queue_->wake.get(), 1);
}

}  // namespace qz
