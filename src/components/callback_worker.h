// Runs HTTP callbacks on threads of their own, so a host that is slow or
// never answers holds back no apartment. At most `in_flight` callbacks run
// at once; the rest wait in a queue of at most `queued`, and one posted to a
// full queue is dropped with a log line (a callback is best effort, and
// waiting for room would hold the apartment again). Threads start on
// demand. Safe from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "automation/context_post.h"

namespace qz {

class CallbackWorker {
 public:
  struct Limits {
    size_t in_flight = 4;
    size_t queued = 1000;
  };
  using Log = std::function<void(std::string_view line)>;

  CallbackWorker(Limits limits, Log log);
  // Drops what is still queued, naming each in the log, then waits for the
  // callbacks in flight (each bounded by its own time limit) and joins.
  ~CallbackWorker();
  CallbackWorker(const CallbackWorker&) = delete;
  CallbackWorker& operator=(const CallbackWorker&) = delete;

  // Queues `job`; `label` names it in log lines ("request T-42 to http://…").
  // False, with a log line, when the queue is full.
  bool Post(std::string label, Work job);

  // `done` runs once nothing is queued or in flight: at once on this thread
  // if that is so now, else on the worker thread that finished the last.
  void WhenIdle(std::function<void()> done);
  // Waits until nothing is queued or in flight, or until `deadline`; true
  // when idle.
  bool WaitIdle(std::chrono::steady_clock::time_point deadline);
  // The labels of the callbacks queued or in flight now.
  std::vector<std::string> Unfinished() const;

 private:
  struct Job {
    std::string label;
    Work work;
  };
  void Serve();
  bool IdleLocked() const { return queue_.empty() && running_.empty(); }

  const Limits limits_;
  const Log log_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;  // a job queued, or stopping
  std::condition_variable idle_;  // nothing queued or in flight
  std::deque<Job> queue_;
  std::map<uint64_t, std::string> running_;  // labels of the jobs in flight
  uint64_t next_id_ = 0;
  size_t waiting_threads_ = 0;
  bool stopping_ = false;
  std::vector<std::function<void()>> when_idle_;
  std::vector<std::thread> threads_;  // last: joined before the rest goes
};

}  // namespace qz
