// The SMS gateway request component: sends one form-encoded request text to
// an SMS web gateway over HTTP or HTTPS (libcurl) and answers the gateway's
// response body as text. One curl handle serves the component's lifetime, so
// the requests of one channel call share a connection. Owned by one
// apartment; all calls on its thread, each blocking it up to the time limit.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "automation/component_registry.h"
#include "automation/dispatch_object.h"

#include "platform/holders.h"

namespace qz {

// The class identifier the SMS channel creates the component by.
inline constexpr std::string_view kSmsGatewayClassId = "{8D3E5A71-2C4B-4F0E-9A66-51C7B3E2D940}";
// Source of the run-time errors the component raises.
inline constexpr std::string_view kSmsGatewaySource = "QzNotes.SmsGatewayRequest";
// Number of the error raised when no HTTP answer can be had.
inline constexpr int32_t kErrGatewayTransport = 440;

struct SmsGatewayLimits {
  std::chrono::milliseconds connect{10'000};  // to have a connection
  std::chrono::milliseconds total{30'000};    // for one whole request
  size_t body_bytes = 64 * 1024;              // answer bytes kept; the rest is cut
  std::string ca_file;                        // extra trust anchor; empty: system store
};

class SmsGatewayRequest final : public DispatchObject {
 public:
  explicit SmsGatewayRequest(SmsGatewayLimits limits = {});
  ~SmsGatewayRequest() override;

  // Protocol, IPAddress, Connect, Access, Method, Header, Accept. A value the
  // component cannot use raises 5 with a description naming the property.
  void SetProperty(std::string_view name, const Variant& value) override;
  // SendRequest(first array, second array): sends element 0 of the second.
  Variant CallMethod(std::string_view name, std::span<Variant> args) override;
  // The HTTP status of the last answer (0: none) and its Retry-After, if any.
  long LastStatus() const { return status_; }
  std::optional<std::chrono::seconds> LastRetryAfter() const { return retry_after_; }

 private:
  std::string SendRequest(std::string_view request_text);
  std::string Where() const;

  SmsGatewayLimits limits_;
  CurlPtr easy_;
  CurlSlistPtr headers_;
  std::string protocol_;
  std::string host_;
  std::string connect_ = "/";
  int16_t access_ = 0;
  bool post_ = false;
  std::string method_;
  std::string header_;
  std::string accept_;
  long status_ = 0;
  std::optional<std::chrono::seconds> retry_after_;
};

// Registers the component under kSmsGatewayClassId.
void RegisterSmsGatewayRequest(ComponentRegistry& registry, SmsGatewayLimits limits = {});

}  // namespace qz
