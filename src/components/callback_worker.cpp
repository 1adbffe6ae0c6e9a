#include "components/callback_worker.h"

#include <algorithm>

namespace qz {

CallbackWorker::CallbackWorker(Limits limits, Log log)
    : limits_{std::max<size_t>(limits.in_flight, 1), limits.queued}, log_(std::move(log)) {}

CallbackWorker::~CallbackWorker() {
  std::deque<Job> dropped;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    dropped.swap(queue_);
  }
  wake_.notify_all();
  for (const Job& job : dropped)
    if (log_) log_("callback " + job.label + " not made: the server is stopping");
  for (std::thread& thread : threads_) thread.join();
}

bool CallbackWorker::Post(std::string label, Work job) {
  {
    std::lock_guard lock(mutex_);
    if (!stopping_ && queue_.size() < limits_.queued) {
      queue_.push_back({std::move(label), std::move(job)});
      // A new thread only when none waits, up to the bound.
      if (waiting_threads_ < queue_.size() && threads_.size() < limits_.in_flight)
        threads_.emplace_back([this] { Serve(); });
      wake_.notify_one();
      return true;
    }
  }
  if (log_)
    log_("callback " + label + " dropped: " + std::to_string(limits_.queued) +
         " callbacks are already waiting");
  return false;
}

void CallbackWorker::Serve() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++waiting_threads_;
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    --waiting_threads_;
    if (queue_.empty()) return;  // stopping
    Job job = std::move(queue_.front());
    queue_.pop_front();
    const uint64_t id = next_id_++;
    running_.emplace(id, std::move(job.label));
    lock.unlock();
    try {
      job.work();
    } catch (...) {
      // A callback that fails is dropped silently, like any failed callback.
    }
    job.work = Work();  // what it holds goes outside the lock
    lock.lock();
    running_.erase(id);
    if (IdleLocked()) {
      std::vector<std::function<void()>> done;
      done.swap(when_idle_);
      idle_.notify_all();
      lock.unlock();
      for (auto& notify : done) notify();
      lock.lock();
    }
  }
}

void CallbackWorker::WhenIdle(std::function<void()> done) {
  {
    std::lock_guard lock(mutex_);
    if (!IdleLocked()) {
      when_idle_.push_back(std::move(done));
      return;
    }
  }
  done();
}

bool CallbackWorker::WaitIdle(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return idle_.wait_until(lock, deadline, [this] { return IdleLocked(); });
}

std::vector<std::string> CallbackWorker::Unfinished() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> labels;
  for (const auto& [id, label] : running_) labels.push_back(label);
  for (const Job& job : queue_) labels.push_back(job.label);
  return labels;
}

}  // namespace qz
