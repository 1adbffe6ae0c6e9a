// Work posted to the thread that iterates a GMainContext, in the order it was
// posted. Unlike an idle source per post, the poster never takes the
// context's lock: it queues under the inbox's own lock and, after letting it
// go, wakes the thread through an eventfd. A thread woken at once (the other
// core is idle) then runs the work instead of blocking on a lock the poster
// still holds, which cost two extra context switches per call. Post() is
// safe from any thread.
#pragma once

#include <glib.h>

#include <memory>

#include "automation/context_post.h"

namespace qz {

class WorkInbox {
 public:
  // Attaches to `context`; what is queued stays with the context (and runs
  // while it is iterated) after the inbox is gone.
  explicit WorkInbox(GMainContext* context);
  ~WorkInbox();
  WorkInbox(const WorkInbox&) = delete;
  WorkInbox& operator=(const WorkInbox&) = delete;

  void Post(Work work);

  struct Queue;

 private:
  std::shared_ptr<Queue> queue_;
  GSource* source_;  // ours to unref; the context keeps it attached
};

}  // namespace qz
