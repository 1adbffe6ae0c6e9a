// Test doubles for the seams of the dispatch code: a scripted channel set,
// a seat probe and a recording callback object.
#pragma once

#include <map>

#include "automation/component_registry.h"
#include "automation/names.h"
#include "automation/run_time_error.h"
#include "diagnostics/last_error.h"
#include "gateways/gateway_table.h"
// The channel tests hand a channel the SMS gateway's kept settings alone.
#include "gateways/sms/sms_settings.h"
#include "platform/seat.h"

namespace qz::testing {

inline Variant List(std::initializer_list<Variant> items) { return Variant::Array(items); }

// One call a channel received, as "smtp|subject|from|profile|server".
struct ChannelUse {
  std::string channel, subject = {}, from = {}, profile = {}, server = {};
  std::string Text() const {
    return channel + "|" + subject + "|" + from + "|" + profile + "|" + server;
  }
};

// The built-in gateway table with scripted channels: each records its use
// under its name ("pager", "snpp", "sms", "smtp", "mail"; the SMS
// initialisation step as "sms-init"), leaves `snpp_status` in
// mstrSNPPStatus and answers true, unless `failures` holds a text for that
// name: then it leaves the text in gstrLastError and answers false. The
// gateway number is read from the settings as the server does.
class ScriptedChannels : public GatewayTable {
 public:
  ScriptedChannels() : GatewayTable(BuiltInGateways()) {
    for (size_t i = 0; const char* name : {"pager", "snpp", "sms"})
      paging.at(i++).channel = Scripted(name);
    paging.at(2).initialise = [this](const ChannelCall& c) {
      return Scripted("sms-init")(c, {}, {});
    };
    smtp.channel = Scripted("smtp");
    profile.channel = Scripted("mail");
  }
  ScriptedChannels(const ScriptedChannels&) = delete;

  Channel Scripted(std::string name) {
    return [this, name](const ChannelCall& c, const Variant&, const Variant&) {
      uses.push_back({name, std::string(c.mstrSubject), std::string(c.mstrMailFrom),
                      std::string(c.mstrProfile), std::string(c.mstrSMTPServer)});
      c.mstrSNPPStatus = snpp_status;
      auto failure = failures.find(name);
      if (failure != failures.end()) gstrLastError = failure->second;
      return failure == failures.end();
    };
  }
  // The names of the uses, in order, between blanks.
  std::string Names() const {
    std::string names;
    for (const auto& u : uses) names += (names.empty() ? "" : " ") + u.channel;
    return names;
  }

  std::vector<ChannelUse> uses;
  std::map<std::string, std::string> failures;
  std::string snpp_status;
};

// A seat check answering `answer`, or raising when `raises` is set.
struct FakeSeat : SeatProbe {
  bool UserAtSeat() override {
    ++calls;
    if (raises) throw RunTimeError(5, "seat query broke", "seat");
    return answer;
  }
  bool answer = true, raises = false;
  int calls = 0;
};

// The calls a callback party received, each as the texts of its arguments.
using Calls = std::vector<std::vector<std::string>>;

// A callback party recording every call of `method`; other members raise 438.
class RecordingCallback : public DispatchObject {
 public:
  explicit RecordingCallback(std::string method = "gsubAgentCallBack")
      : method_(std::move(method)) {}
  Variant CallMethod(std::string_view name, std::span<Variant> args) override {
    if (!AsciiCaseEqual(name, method_)) return DispatchObject::CallMethod(name, args);
    calls.emplace_back();
    for (const auto& a : args) calls.back().push_back(a.Text());
    if (on_call) on_call(calls.back());
    return {};
  }
  Calls calls;
  std::function<void(const std::vector<std::string>&)> on_call;

 private:
  std::string method_;
};

}  // namespace qz::testing
