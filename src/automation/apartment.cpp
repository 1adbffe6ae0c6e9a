#include "automation/apartment.h"

#include <pthread.h>

namespace qz {
namespace {

using SteadyClock = std::chrono::steady_clock;

// The apartment whose thread this is, set once as the thread starts: how a
// wait deep in a channel finds whom it excuses without every caller
// passing it down.
thread_local Apartment* tls_running_apartment = nullptr;

int64_t SteadyNanos(SteadyClock::time_point at) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

SteadyClock::time_point SteadyAt(int64_t nanos) {
  return SteadyClock::time_point(
      std::chrono::duration_cast<SteadyClock::duration>(std::chrono::nanoseconds(nanos)));
}

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
      loop_(g_main_loop_new(context_.get(), FALSE)),
      answered_ns_(SteadyNanos(SteadyClock::now())) {
  std::promise<void> started;
  std::future<void> ready = started.get_future();
  thread_ =
      std::thread([this, &started, context = MainContextPtr(g_main_context_ref(context_.get())),
                   loop = MainLoopPtr(g_main_loop_ref(loop_.get()))]() mutable {
        thread_id_ = std::this_thread::get_id();
        tls_running_apartment = this;
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

// Work posted after the stop never runs, and work posted before it runs
// before the destructor's join: `this` outlives the no-op either way.
void Apartment::Ping() {
  Post([this] { answered_ns_ = SteadyNanos(SteadyClock::now()); });
}

SteadyClock::time_point Apartment::LastAnswer() const { return SteadyAt(answered_ns_); }

SteadyClock::time_point Apartment::ExcusedUntil() const { return SteadyAt(excused_ns_); }

BoundedWait::BoundedWait(SteadyClock::time_point deadline) : apartment_(tls_running_apartment) {
  if (apartment_) outer_ns_ = apartment_->excused_ns_.exchange(SteadyNanos(deadline));
}

BoundedWait::~BoundedWait() {
  if (apartment_) apartment_->excused_ns_ = outer_ns_;
}

}  // namespace qz
