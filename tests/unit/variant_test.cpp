#include "automation/variant.h"
#include "diagnostics/reraise.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "automation/run_time_error.h"

namespace qz {
namespace {

int32_t ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const RunTimeError& e) {
    return e.number();
  }
  return 0;
}

TEST(Variant, TextOfEveryKind) {
  struct Case {
    Variant v;
    const char* text;
  } cases[] = {
      {Variant(), ""},
      {Variant(int16_t{-32768}), "-32768"},
      {Variant(int32_t{2147483647}), "2147483647"},
      {Variant(1.5), "1.5"},
      {Variant(0.1 + 0.2), "0.3"},  // 15 significant digits, as the runtime prints
      {Variant(1e20), "1E+20"},
      {Variant("text"), "text"},
      {Variant::Boolean(true), "True"},
      {Variant::Boolean(false), "False"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.v.Text(), c.text);
}

TEST(Variant, TextRaisesForNullArraysObjects) {
  EXPECT_EQ(ErrorOf([] { Variant::Null().Text(); }), 94);
  EXPECT_EQ(ErrorOf([] { Variant::Array({}).Text(); }), 13);
  EXPECT_EQ(ErrorOf([] { Variant::NoDimensions().Text(); }), 13);
  EXPECT_EQ(ErrorOf([] { Variant(std::shared_ptr<DispatchObject>()).Text(); }), 13);
}

TEST(Variant, ParsesNumericText) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"0", 0},       {"  42 ", 42},      {"-7", -7},         {"+3.25", 3.25}, {".5", 0.5},
      {"5.", 5},      {"1e3", 1000},      {"2.5E-1", 0.25},   {"1D2", 100},    {"&H10", 16},
      {"&HFFFF", -1}, {"&H10000", 65536}, {"&hFFFFFFFF", -1}, {"&O17", 15},    {"\t1\t", 1},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(ParseNumber(c.text), c.value) << c.text;
}

TEST(Variant, RejectsTextThatIsNoNumber) {
  for (const char* text :
       {"", " ", "abc", "1x", "1 2", "e5", "1e", "--1", "&H", "&HG", "inf", "nan", "&O9"})
    EXPECT_EQ(ErrorOf([&] { ParseNumber(text); }), 13) << '"' << text << '"';
  EXPECT_EQ(ErrorOf([] { ParseNumber("&H123456789"); }), 6);
}

TEST(Variant, ComparesWithNumbers) {
  struct Case {
    Variant v;
    double n;
    bool equal;
  } cases[] = {
      {Variant(), 0, true},        {Variant(), 1, false},
      {Variant("0"), 0, true},     {Variant(" 1 "), 1, true},
      {Variant("2"), 1, false},    {Variant(int16_t{2}), 2, true},
      {Variant::Null(), 0, false}, {Variant::Boolean(true), -1, true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(EqualsNumber(c.v, c.n), c.equal) << c.v.Text() << " vs " << c.n;
  EXPECT_EQ(ErrorOf([] { EqualsNumber(Variant(""), 0); }), 13);
  EXPECT_EQ(ErrorOf([] { EqualsNumber(Variant("zero"), 0); }), 13);
  EXPECT_EQ(ErrorOf([] { EqualsNumber(Variant::Array({}), 0); }), 13);
}

TEST(Variant, IntegerConversionRoundsHalfToEvenAndOverflows) {
  struct Case {
    Variant v;
    int32_t expected;
  } cases[] = {
      {Variant(0.5), 0}, {Variant(1.5), 2},   {Variant(2.5), 2}, {Variant(-2.5), -2},
      {Variant(2.6), 3}, {Variant("3.5"), 4}, {Variant(), 0},    {Variant(32767.4), 32767},
  };
  for (const auto& c : cases) EXPECT_EQ(c.v.ToInt16(), c.expected) << c.v.Text();
  EXPECT_EQ(ErrorOf([] { Variant(32767.5).ToInt16(); }), 6);
  EXPECT_EQ(ErrorOf([] { Variant(int32_t{-32769}).ToInt16(); }), 6);
  EXPECT_EQ(ErrorOf([] { Variant(2147483648.0).ToInt32(); }), 6);
  EXPECT_EQ(ErrorOf([] { Variant(std::nan("")).ToInt32(); }), 6);
  EXPECT_EQ(Variant(-2147483648.0).ToInt32(), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(ErrorOf([] { Variant::Null().ToInt16(); }), 94);
}

TEST(Variant, IndexingAndBounds) {
  Variant a = Variant::Array({Variant("x"), Variant("y")});
  EXPECT_EQ(a.LBound(), 0);
  EXPECT_EQ(a.UBound(), 1);
  EXPECT_EQ(a.At(1).Text(), "y");
  EXPECT_EQ(ErrorOf([&] { a.At(2); }), 9);
  EXPECT_EQ(ErrorOf([&] { a.At(-1); }), 9);
  EXPECT_EQ(Variant::Array({}).UBound(), -1);

  Variant one_based = Variant::Array({Variant("first")}, 1);
  EXPECT_EQ(one_based.At(1).Text(), "first");
  EXPECT_EQ(ErrorOf([&] { one_based.At(0); }), 9);

  Variant no_dims = Variant::NoDimensions();
  EXPECT_TRUE(no_dims.IsArray());
  EXPECT_EQ(ErrorOf([&] { no_dims.UBound(); }), 9);
  EXPECT_EQ(ErrorOf([&] { no_dims.At(0); }), 9);
  for (const Variant& scalar : {Variant(), Variant("s"), Variant::Null(), Variant(int16_t{1})}) {
    EXPECT_FALSE(scalar.IsArray());
    EXPECT_EQ(ErrorOf([&] { scalar.UBound(); }), 13);
    EXPECT_EQ(ErrorOf([&] { scalar.At(0); }), 13);
  }
}

TEST(Variant, ArraysAreValues) {
  Variant inner = Variant::Array({Variant("a")});
  Variant outer = Variant::Array({inner});
  Variant copy = outer;
  copy.At(0).At(0) = Variant("changed");
  EXPECT_EQ(outer.At(0).At(0).Text(), "a");
  EXPECT_NE(copy, outer);
  EXPECT_EQ(Variant::Array({Variant("a")}), inner);
}

TEST(RunTimeError, StandardTexts) {
  EXPECT_EQ(RunTimeError(429).description(), "ActiveX component can't create object");
  EXPECT_EQ(RunTimeError(9).description(), "Subscript out of range");
  try {
    try {
      throw RunTimeError(13, "inner");
    } catch (...) {
      ReRaiseWithSource("cNotify:gvarGetSettings");
    }
  } catch (const RunTimeError& raised) {
    EXPECT_EQ(raised.number(), 13);
    EXPECT_EQ(raised.description(), "Type mismatch");
    EXPECT_EQ(raised.source(), "cNotify:gvarGetSettings");
    return;
  }
  ADD_FAILURE() << "nothing was raised again";
}

}  // namespace
}  // namespace qz
