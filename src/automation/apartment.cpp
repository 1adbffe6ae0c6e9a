#include "automation/apartment.h"

#include <pthread.h>

namespace qz {
namespace {

// Holds its own references, so a detached thread never touches a destroyed
// Apartment.
void RunLoop(MainContextPtr context, MainLoopPtr loop) {
  g_main_context_push_thread_default(context.get());
  g_main_loop_run(loop.get());
  g_main_context_pop_thread_default(context.get());
}

}  // namespace

Apartment::Apartment(std::string name)
    : name_(std::move(name)),
      context_(g_main_context_new()),
      loop_(g_main_loop_new(context_.get(), FALSE)) {
  std::promise<void> started;
  std::future<void> ready = started.get_future();
  thread_ =
      std::thread([this, &started, context = MainContextPtr(g_main_context_ref(context_.get())),
                   loop = MainLoopPtr(g_main_loop_ref(loop_.get()))]() mutable {
        thread_id_ = std::this_thread::get_id();
        pthread_setname_np(pthread_self(), name_.substr(0, 15).c_str());
        started.set_value();
        RunLoop(std::move(context), std::move(loop));
      });
  ready.wait();
}

Apartment::~Apartment() { Stop(); }

void Apartment::Stop() {
  std::call_once(stopped_, [this] {
    // Quit from inside the loop so work posted before us still runs.
    Post([loop = loop_.get()] { g_main_loop_quit(loop); });
    if (IsCurrent()) {
      thread_.detach();  // last owner let go on our own thread: cannot join ourselves
    } else {
      thread_.join();
    }
  });
}

void Apartment::Post(Work work) { inbox_.Post(std::move(work)); }

}  // namespace qz
