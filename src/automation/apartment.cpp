#include "automation/apartment.h"

#include <pthread.h>

#include "automation/context_post.h"

namespace qz {
namespace {

// Holds its own references, so a detached thread never touches a destroyed
// Apartment.
void RunLoop(GMainContext* context, GMainLoop* loop) {
  g_main_context_push_thread_default(context);
  g_main_loop_run(loop);
  g_main_context_pop_thread_default(context);
  g_main_loop_unref(loop);
  g_main_context_unref(context);
}

}  // namespace

Apartment::Apartment(std::string name)
    : name_(std::move(name)), context_(g_main_context_new()), loop_(g_main_loop_new(context_, FALSE)) {
  std::promise<void> started;
  std::future<void> ready = started.get_future();
  thread_ = std::thread([this, &started, context = g_main_context_ref(context_),
                         loop = g_main_loop_ref(loop_)] {
    thread_id_ = std::this_thread::get_id();
    pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
    started.set_value();
    RunLoop(context, loop);
  });
  ready.wait();
}

Apartment::~Apartment() {
  // Quit from inside the loop so work posted before us still runs.
  Post([loop = loop_] { g_main_loop_quit(loop); });
  if (IsCurrent()) {
    thread_.detach();  // last owner let go on our own thread: cannot join ourselves
  } else {
    thread_.join();
  }
  g_main_loop_unref(loop_);
  g_main_context_unref(context_);
}

void Apartment::Post(std::function<void()> work) { PostToContext(context_, std::move(work)); }

}  // namespace qz
