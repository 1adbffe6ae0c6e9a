#include "components/http_callback.h"

#include "automation/names.h"
#include "automation/run_time_error.h"
#include "components/http_post.h"
#include "components/json_text.h"
#include "contract/contract.h"

namespace qz {

std::string CallbackBody(std::string_view test_id, std::string_view message) {
  return "{\"testId\":" + JsonString(test_id) + ",\"message\":" + JsonString(message) + "}";
}

std::vector<std::string> CallbackHeaders() {
  return {
      "Content-Type: application/json; charset=utf-8",
      "X-QzNotes-Callback: 1",
      "User-Agent: qznotesd",
      // Without this, curl holds larger bodies back waiting for 100 Continue.
      "Expect:",
  };
}

Variant HttpCallback::CallMethod(std::string_view name, std::span<Variant> args) {
  if (!AsciiCaseEqual(name, kCallbackServiceMethod)) throw RunTimeError(kErrNoSuchMember);
  if (args.size() != 2) throw RunTimeError(kErrWrongArguments);
  HttpPostRequest request{target_.url, CallbackHeaders(),
                          CallbackBody(args[0].Text(), args[1].Text()), time_limit_, resolver_};
  if (worker_) {
    // Failures are silent either way; a full queue is logged by the worker.
    const bool queued = worker_->Post("of request " + args[0].Text() + " to " + target_.url,
                                      [request = std::move(request), metrics = metrics_] {
                                        const bool sent = HttpPost(request).ok();
                                        if (metrics) metrics->CalledBack(CallbackKind::kHttp, sent);
                                      });
    if (!queued && metrics_) metrics_->CalledBack(CallbackKind::kHttp, false);
    return Variant();
  }
  HttpPostResult result = HttpPost(request);
  if (metrics_) metrics_->CalledBack(CallbackKind::kHttp, result.ok());
  if (!result.ok()) {
    std::string why =
        result.error.empty() ? "status " + std::to_string(result.status) : result.error;
    throw RunTimeError(kErrInternal, target_.url + ": " + why, kCallbackProgId);
  }
  return Variant();
}

}  // namespace qz
