// A cNotify with doubles at every seam and a GMainContext nobody runs, so a
// test decides when the tick happens by calling NotesTimer_Timer itself.
#pragma once

#include <gtest/gtest.h>

#include "dispatch/c_notify.h"
#include "fakes.h"
#include "platform/holders.h"
#include "support/temp_folder.h"

namespace qz::testing {

inline constexpr const char* kAccepted = "Notes Server: Asynch mode";
inline constexpr const char* kSent = "QzNotes: Message Sent";
inline constexpr const char* kUndeliverable =
    "QzNotes: Message Undeliverable. See QzNotesLog.log file for details ";

class DispatchTest : public ::testing::Test {
 protected:
  DispatchTest() { Fresh(); }

  // A new object whose runs are traced into trace_, an empty log, and no
  // channel used or failing.
  void Fresh() {
    notify_ = std::make_unique<cNotify>(env_, context_.get());
    notify_->SetOutcomeListener([this](const DispatchTrace& t) { trace_ = t; });
    std::filesystem::remove(folder_ / "QzNotesLog.log");
    channels_.uses.clear();
    channels_.failures.clear();
  }
  using Callback = std::shared_ptr<DispatchObject>;
  Variant Send(const Variant& options, Callback callback = nullptr, std::string_view id = "t1") {
    return notify_->SendMessageCallBack(notes_, emails_, pagers_, options, std::move(callback), id);
  }
  Variant SendEx(const Variant& host, std::string_view test_id = "t1") {
    return notify_->SendMessageCallBackEx(notes_, emails_, pagers_, Variant(), host, test_id);
  }
  // Sends, then runs the tick at once; the request call's answer.
  std::string Run(const Variant& options = {}, Callback callback = nullptr,
                  std::string_view id = "t1") {
    std::string answer = Send(options, std::move(callback), id).Text();
    notify_->NotesTimer_Timer();
    return answer;
  }
  // "Subject|from|Profile|server|True" as lvarAny; "~" stands for Null, "#"
  // for the Boolean True.
  static Variant Options(std::string_view fields) {
    std::vector<Variant> items;
    for (size_t at = 0, bar = 0; bar != std::string_view::npos; at = bar + 1) {
      bar = fields.find('|', at);
      std::string_view f = fields.substr(at, bar - at);
      items.push_back(f == "~" ? Variant::Null() : f == "#" ? Variant::Boolean(true) : Variant(f));
    }
    return Variant::Array(std::move(items));
  }
  std::string Log() const { return folder_.Read("QzNotesLog.log"); }
  bool Logged(std::string_view text) const { return Log().find(text) != std::string::npos; }
  // The last run's trace, a line a step.
  std::string Traced() const {
    std::string text;
    for (const std::string& line : TraceDetails(trace_)) text += line + "\n";
    return text;
  }

  // Two groups of one message each, with one recipient per message.
  Variant notes_ = List({List({Variant("m0")}), List({Variant("m1")})});
  Variant emails_ =
      List({List({List({Variant("a@example.org")})}), List({List({Variant("b@example.org")})})});
  Variant pagers_ = List({List({List({Variant("100")})}), List({List({Variant("101")})})});

  TempFolder folder_;
  MainContextPtr context_{g_main_context_new()};
  ComponentRegistry components_;
  ScriptedChannels channels_;
  FakeSeat seat_;
  ServerEnvironment env_{folder_.path(), components_, channels_, seat_};
  std::unique_ptr<cNotify> notify_;  // after what it uses, so it goes before it
  DispatchTrace trace_;
};

}  // namespace qz::testing
