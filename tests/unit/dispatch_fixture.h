// A cNotify with doubles at every seam and a GMainContext nobody runs, so a
// test decides when the tick happens by calling NotesTimer_Timer itself.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "automation/component_registry.h"
#include "dispatch/c_notify.h"
#include "fakes.h"
#include "support/temp_folder.h"

namespace qz::testing {

class DispatchTest : public ::testing::Test {
 protected:
  DispatchTest()
      : context_(g_main_context_new()),
        env_{folder_.path(), components_, channels_, seat_},
        notify_(std::make_unique<cNotify>(env_, context_)) {}
  ~DispatchTest() override {
    notify_.reset();
    g_main_context_unref(context_);
  }

  // Two groups of one message each, with one recipient per message.
  Variant notes_ = List({List({Variant("m0")}), List({Variant("m1")})});
  Variant emails_ =
      List({List({List({Variant("a@example.org")})}), List({List({Variant("b@example.org")})})});
  Variant pagers_ = List({List({List({Variant("100")})}), List({List({Variant("101")})})});

  Variant Send(const Variant& options, std::shared_ptr<DispatchObject> callback = nullptr,
               std::string_view test_id = "t1") {
    return notify_->SendMessageCallBack(notes_, emails_, pagers_, options, std::move(callback),
                                        test_id);
  }

  std::string Log() const { return folder_.Read("QzNotesLog.log"); }

  TempFolder folder_;
  GMainContext* context_;
  ComponentRegistry components_;
  ScriptedChannels channels_;
  FakeSeat seat_;
  ServerEnvironment env_;
  std::unique_ptr<cNotify> notify_;
};

}  // namespace qz::testing
