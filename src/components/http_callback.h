// The callback component for a remote host: CallBack(testId, message) is an
// HTTP POST of {"testId": ..., "message": ...} as application/json, with the
// header X-QzNotes-Callback: 1, to the target's URL. With a worker the post
// is queued there and the call returns at once; without one it blocks the
// calling thread for at most the time limit. Use it on one thread at a time.
#pragma once

#include <chrono>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automation/dispatch_object.h"
#include "components/callback_target.h"
#include "components/callback_worker.h"
#include "components/host_resolver.h"
#include "diagnostics/metrics.h"

namespace qz {

// The JSON document that is posted.
std::string CallbackBody(std::string_view test_id, std::string_view message);
// The request headers, "Name: value".
std::vector<std::string> CallbackHeaders();

class HttpCallback : public DispatchObject {
 public:
  // `resolver` empty: the system's (tests pin names to loopback). `worker`
  // null: post on the calling thread; else it must outlive the object, as
  // must `metrics`, which counts the posts once answered.
  HttpCallback(CallbackTarget target, std::chrono::milliseconds time_limit,
               HostResolver resolver = {}, CallbackWorker* worker = nullptr,
               Metrics* metrics = nullptr)
      : target_(std::move(target)),
        time_limit_(time_limit),
        resolver_(std::move(resolver)),
        worker_(worker),
        metrics_(metrics) {}

  // "CallBack" with exactly two arguments (else 450); other names raise 438.
  // Without a worker, raises 51 unless the host answers with a 2xx status
  // within the limit, and without connecting when the host has a refused
  // address. With one, raises nothing more: the outcome is not waited for.
  Variant CallMethod(std::string_view name, std::span<Variant> args) override;

  const CallbackTarget& target() const { return target_; }

 private:
  CallbackTarget target_;
  std::chrono::milliseconds time_limit_;
  HostResolver resolver_;
  CallbackWorker* worker_;
  Metrics* metrics_;
};

}  // namespace qz
