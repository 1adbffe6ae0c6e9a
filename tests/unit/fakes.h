// Test doubles for the seams of the dispatch code: a scripted channel set,
// a seat probe and a recording callback object.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "automation/dispatch_object.h"
#include "automation/names.h"
#include "automation/run_time_error.h"
#include "diagnostics/last_error.h"
#include "gateways/delivery_channels.h"
#include "gateways/terminal/pager_terminal.h"
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

// Channels whose answers a test scripts: each named channel answers `true`
// unless a failure text is set for it, in which case it leaves that text in
// gstrLastError and answers false.
class ScriptedChannels : public DeliveryChannels {
 public:
  std::vector<ChannelUse> uses;
  std::map<std::string, std::string> failures;  // channel -> text left in gstrLastError
  std::function<bool()> sms_initialises = [] { return true; };
  std::function<Variant()> gateway = [] { return Variant(); };
  int gateway_reads = 0;
  bool real_pager = false;  // run the real pager terminal channel

  bool mblnSendMail(const ChannelCall& c, const Variant& n, const Variant& r) override {
    return Use("mail", c, n, r);
  }
  bool mblnSendSMTPMail(const ChannelCall& c, const Variant& n, const Variant& r) override {
    return Use("smtp", c, n, r);
  }
  bool mblnPaging(const ChannelCall& c, const Variant& n, const Variant& r) override {
    if (real_pager) {
      Use("pager", c, n, r);
      return qz::mblnPaging(c.components, n, r);
    }
    return Use("pager", c, n, r);
  }
  bool mblnPagingIP(const ChannelCall& c, const Variant& n, const Variant& r) override {
    return Use("snpp", c, n, r);
  }
  bool mblnPagingEx(const ChannelCall& c, const Variant& n, const Variant& r) override {
    return Use("sms", c, n, r);
  }
  bool mblnInitialiseSMS(const ChannelCall&) override {
    uses.push_back({"sms-init", {}, {}, {}, {}, {}, {}});
    return sms_initialises();
  }
  Variant mvarGetDefaultGateway(const ChannelCall&) override {
    ++gateway_reads;
    return gateway();
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& u : uses) names.push_back(u.channel);
    return names;
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
