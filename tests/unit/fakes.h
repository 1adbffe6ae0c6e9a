// Test doubles for the seams of the dispatch code: a scripted channel set,
// a seat probe and a recording callback object.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "automation/component_registry.h"
#include "automation/dispatch_object.h"
#include "automation/names.h"
#include "automation/run_time_error.h"
#include "diagnostics/last_error.h"
#include "gateways/gateway_table.h"
// The channel tests hand a channel the SMS gateway's kept settings alone.
#include "gateways/sms/sms_settings.h"
#include "platform/seat.h"

namespace qz::testing {

inline Variant List(std::initializer_list<Variant> items) { return Variant::Array(items); }

// One call a channel received.
struct ChannelUse {
  std::string channel;
  Variant notes;
  Variant recipients;
  std::string subject, from, profile, server;
};

// The built-in gateway table with every channel scripted: each answers true
// unless a failure text is set for its name ("pager", "snpp", "sms", "smtp",
// "mail"), in which case it leaves that text in gstrLastError and answers
// false. The SMS initialisation step records itself as "sms-init".
class ScriptedChannels : public GatewayTable {
 public:
  ScriptedChannels() : GatewayTable(BuiltInGateways()) {
    real_pager_channel_ = paging.at(0).channel;
    paging.at(0).channel = [this](const ChannelCall& c, const Variant& n, const Variant& r) {
      bool ok = Use("pager", c, n, r);
      return real_pager ? real_pager_channel_(c, n, r) : ok;
    };
    paging.at(1).channel = Scripted("snpp");
    paging.at(2).channel = Scripted("sms");
    paging.at(2).initialise = [this](const ChannelCall&) {
      uses.push_back({"sms-init", {}, {}, {}, {}, {}, {}});
      return sms_initialises();
    };
    smtp.channel = Scripted("smtp");
    profile.channel = Scripted("mail");
    read_gateway = [this](const ChannelCall&) {
      ++gateway_reads;
      return gateway();
    };
  }
  ScriptedChannels(const ScriptedChannels&) = delete;
  ScriptedChannels& operator=(const ScriptedChannels&) = delete;

  std::vector<ChannelUse> uses;
  std::map<std::string, std::string> failures;  // channel -> text left in gstrLastError
  std::function<bool()> sms_initialises = [] { return true; };
  std::function<Variant()> gateway = [] { return Variant(); };
  int gateway_reads = 0;
  bool real_pager = false;  // run the real pager terminal channel

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& u : uses) names.push_back(u.channel);
    return names;
  }

  // A channel that records its use under `name` and answers as scripted.
  Channel Scripted(std::string name) {
    return [this, name](const ChannelCall& c, const Variant& n, const Variant& r) {
      return Use(name, c, n, r);
    };
  }

 private:
  bool Use(const std::string& name, const ChannelCall& c, const Variant& n, const Variant& r) {
    uses.push_back({name, n, r, std::string(c.mstrSubject), std::string(c.mstrMailFrom),
                    std::string(c.mstrProfile), std::string(c.mstrSMTPServer)});
    auto failure = failures.find(name);
    if (failure == failures.end()) return true;
    gstrLastError = failure->second;
    return false;
  }

  Channel real_pager_channel_;
};

class FakeSeat : public SeatProbe {
 public:
  explicit FakeSeat(bool answer = true) : answer_(answer) {}
  bool UserAtSeat() override {
    ++calls;
    if (raises) throw RunTimeError(5, "seat query broke", "seat");
    return answer_;
  }
  void Answer(bool a) { answer_ = a; }
  int calls = 0;
  bool raises = false;

 private:
  bool answer_;
};

// A callback party recording every call of `method`; other members raise 438.
class RecordingCallback : public DispatchObject {
 public:
  explicit RecordingCallback(std::string method = "gsubAgentCallBack")
      : method_(std::move(method)) {}
  Variant CallMethod(std::string_view name, std::span<Variant> args) override {
    if (!AsciiCaseEqual(name, method_)) return DispatchObject::CallMethod(name, args);
    std::vector<std::string> texts;
    for (const auto& a : args) texts.push_back(a.Text());
    calls.push_back(texts);
    if (on_call) on_call(texts);
    return {};
  }
  std::vector<std::vector<std::string>> calls;
  std::function<void(const std::vector<std::string>&)> on_call;

 private:
  std::string method_;
};

}  // namespace qz::testing
