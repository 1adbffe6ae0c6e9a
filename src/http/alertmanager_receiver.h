// POST /v1/alertmanager/{route}: an Alertmanager webhook becomes one
// notification request, one group per alert (firing and resolved alike),
// sent to the route's recipients through the RequestPort. Alertmanager
// clusters deliver the same notification from every peer on purpose, so a
// repeat of a route's group with the same alerts in the same states within
// the route's RepeatWindow is answered 200 and not sent again.
// Handle() may be called from any thread; the port and the receiver must
// outlive the listener that calls it.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "http/alert_routes.h"
#include "http/alertmanager_payload.h"
#include "http/front_door.h"

namespace qz {

inline constexpr std::string_view kAlertmanagerRoute = "/v1/alertmanager/{}";

// Which notifications were sent lately, by a digest of route, group key and
// each alert's fingerprint and status. Entries expire after their window;
// at `capacity` the one closest to expiry makes room, so memory stays
// bounded whatever the senders do. Safe from any thread.
class AlertRepeats {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  static constexpr size_t kDefaultCapacity = 4096;

  explicit AlertRepeats(size_t capacity = kDefaultCapacity) : capacity_(capacity) {}
  // True when `key` was not sent within its window: it is held until
  // `until` from now on. False for a repeat.
  bool Claim(const std::string& key, TimePoint now, TimePoint until);
  // Forgets a claim whose sending failed, so the sender's retry goes out.
  void Release(const std::string& key, TimePoint until);
  size_t size() const;

 private:
  size_t capacity_;
  mutable std::mutex mutex_;
  std::unordered_map<std::string, TimePoint> until_;
};

// The digest that identifies one notification of `route`.
std::string AlertRepeatKey(std::string_view route, const AlertmanagerPayload& payload);

// The request one webhook becomes for `route`.
NotificationRequest AlertRequest(std::string_view route_name, const AlertRoute& route,
                                 const AlertmanagerPayload& payload);

class AlertmanagerReceiver {
 public:
  using Clock = std::function<AlertRepeats::TimePoint()>;

  AlertmanagerReceiver(RequestPort& port, std::string routes_path,
                       Clock clock = &std::chrono::steady_clock::now)
      : port_(port), routes_(std::move(routes_path)), clock_(std::move(clock)) {}

  void Handle(ApiCall call, ApiReply reply);
  ApiHandler Handler() {
    return [this](ApiCall call, ApiReply reply) { Handle(std::move(call), std::move(reply)); };
  }

 private:
  RequestPort& port_;
  AlertRoutes routes_;
  Clock clock_;
  // Shared with the answers still on their way, which may come after us.
  std::shared_ptr<AlertRepeats> repeats_ = std::make_shared<AlertRepeats>();
};

}  // namespace qz
