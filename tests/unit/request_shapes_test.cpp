// Whatever shape a client sends, a request call answers with one of its two
// forms, and an accepted request ends in exactly one callback with one of
// the two outcomes.
#include <gtest/gtest.h>

#include <random>

#include "dispatch_fixture.h"

namespace qz::testing {
namespace {

class AcceptingPager : public DispatchObject {
 public:
  void SetProperty(std::string_view, const Variant&) override {}
  Variant CallMethod(std::string_view, std::span<Variant>) override { return {}; }
};

class ShapeGenerator {
 public:
  explicit ShapeGenerator(uint32_t seed) : random_(seed) {}

  Variant Any(int depth) {
    switch (Pick(depth > 0 ? 9 : 6)) {
      case 0:
        return Variant();
      case 1:
        return Variant::Null();
      case 2:
        return Variant(static_cast<int16_t>(Pick(65536) - 32768));
      case 3:
        return Variant::Boolean(Pick(2) == 1);
      case 4:
        return Text();
      case 5:
        return Variant::NoDimensions();
      default: {
        std::vector<Variant> items(Pick(4));
        for (auto& item : items) item = Any(depth - 1);
        return Variant::Array(std::move(items));
      }
    }
  }

 private:
  size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random_); }

  Variant Text() {
    static const std::string pieces[] = {
        "page", " ",        "\r\n",     "\n",   "\\", std::string(1, '\0'),
        "\xFF", "\xC3\xA4", "\xF0\x9F", "True", "0",  ""};
    std::string text;
    if (Pick(20) == 0) return Variant(std::string(20000, 'h'));
    for (size_t n = Pick(6); n > 0; --n) text += pieces[Pick(std::size(pieces))];
    return Variant(std::move(text));
  }

  std::mt19937 random_;
};

TEST_F(DispatchTest, EveryShapeEndsInAnAnswerAndAtMostOneCallback) {
  components_.Register("QzTerminal.cPager",
                       [](std::string_view) { return std::make_shared<AcceptingPager>(); });
  channels_.real_pager = true;
  channels_.failures = {{"smtp", "mail down"}};
  ShapeGenerator shapes(20261206);
  auto callback = std::make_shared<RecordingCallback>();
  for (int i = 0; i < 400; ++i) {
    notes_ = shapes.Any(3);
    emails_ = shapes.Any(4);
    pagers_ = shapes.Any(4);
    Variant options =
        i % 3 == 0 ? List({Variant("s"), Variant("f"), Variant(""), Variant("m"), Variant("True")})
                   : shapes.Any(2);
    channels_.gateway = [v = shapes.Any(1)] { return v; };
    callback->calls.clear();

    std::string answer = Send(options, callback, "shape").Text();
    bool accepted = answer == "Notes Server: Asynch mode";
    ASSERT_TRUE(accepted || answer.starts_with("Notes Server: ")) << answer;
    EXPECT_EQ(notify_->HasPendingRequest(), accepted);
    notify_->NotesTimer_Timer();
    notify_->NotesTimer_Timer();
    if (!accepted) {
      EXPECT_TRUE(callback->calls.empty());
      continue;
    }
    ASSERT_EQ(callback->calls.size(), 1u) << "request " << i;
    const std::string& outcome = callback->calls[0][1];
    EXPECT_TRUE(outcome == "QzNotes: Message Sent" ||
                outcome == "QzNotes: Message Undeliverable. See QzNotesLog.log file for details ")
        << outcome;
  }
}

TEST_F(DispatchTest, DeeplyNestedArraysAreJustWrongShapes) {
  Variant deep = Variant("bottom");
  for (int i = 0; i < 2000; ++i) deep = List({deep});
  notes_ = deep;
  emails_ = deep;
  pagers_ = deep;
  channels_.real_pager = true;
  auto callback = std::make_shared<RecordingCallback>();
  ASSERT_EQ(Send(List({deep}), callback).Text(), "Notes Server: Type mismatch");
  ASSERT_EQ(Send(Variant(), callback).Text(), "Notes Server: Asynch mode");
  notify_->NotesTimer_Timer();
  ASSERT_EQ(callback->calls.size(), 1u);
  EXPECT_NE(Log().find("Type mismatch"), std::string::npos);  // the message is an array, not a text
}

}  // namespace
}  // namespace qz::testing
