// Doubles for the SMS channel tests: a gateway request component that
// records what the channel hands it and answers from a script, and the
// per-call state a channel reads (settings folder, registry, SMS fields).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "automation/component_registry.h"
#include "automation/dispatch_object.h"
#include "gateways/delivery_channels.h"
#include "gateways/sms/sms_gateway_request.h"
#include "support/temp_folder.h"

namespace qz::testing {

// What the recording gateway saw, shared with the test beyond its lifetime.
struct GatewayLog {
  std::vector<std::pair<std::string, Variant>> properties;  // in the order set
  std::vector<std::string> requests;                        // element 0 of the second array
  bool arrays_well_formed = true;  // two one-element arrays, the first one Empty
  int created = 0;
  int released = 0;
  // The answer to a request; the default confirms everything.
  std::function<Variant(const std::string& request)> answer = [](const std::string&) {
    return Variant("0: Accepted for delivery");
  };
};

class RecordingGateway final : public DispatchObject {
 public:
  explicit RecordingGateway(std::shared_ptr<GatewayLog> log) : log_(std::move(log)) {
    ++log_->created;
  }
  ~RecordingGateway() override { ++log_->released; }

  void SetProperty(std::string_view name, const Variant& value) override {
    log_->properties.emplace_back(std::string(name), value);
  }
  Variant CallMethod(std::string_view name, std::span<Variant> args) override {
    if (name != "SendRequest") return DispatchObject::CallMethod(name, args);
    const bool shaped = args.size() == 2 && args[0].IsArray() && args[1].IsArray() &&
                        args[0].Items().size() == 1 && args[1].Items().size() == 1 &&
                        args[0].At(0).IsEmpty();
    log_->arrays_well_formed = log_->arrays_well_formed && shaped;
    std::string request = args[1].At(0).Text();
    log_->requests.push_back(request);
    return log_->answer(request);
  }

 private:
  std::shared_ptr<GatewayLog> log_;
};

// The settings of the worked example: to=%2B4412&from=Monitor&text=...
inline SmsSettings ExampleSmsSettings() {
  SmsSettings s;
  s.mstrProtocol = "http";
  s.mstrIPAddress = "127.0.0.1:9";
  s.mstrConnect = "/cgi-bin/sendsms";
  s.mstrAccess = "0";
  s.mstrMethod = "GET";
  s.mstrHeader = "";
  s.mstrAccept = "text/plain";
  s.mstrResponse = "Accepted for delivery";
  s.mstrCountryCode = "44";
  s.mstrSMSTo = "to";
  s.mstrSMSFrom = "from";
  s.mstrSMSMsg = "text";
  s.mstrSMSOffset = "left";
  s.mstrSMSTrailer = "go=1";
  return s;
}

// The state of one cNotify object as the SMS channel sees it, with the
// recording gateway registered under the component's class identifier.
class SmsCallState {
 public:
  SmsCallState() : log(std::make_shared<GatewayLog>()) {
    components.Register(kSmsGatewayClassId, [log = log](std::string_view) {
      return std::make_shared<RecordingGateway>(log);
    });
  }
  ChannelCall call() {
    return ChannelCall{folder.path(), components, {}, {}, {}, {}, snpp_status, sms};
  }

  TempFolder folder;
  ComponentRegistry components;
  std::shared_ptr<GatewayLog> log;
  std::string snpp_status;
  SmsSettings sms = ExampleSmsSettings();
};

}  // namespace qz::testing
