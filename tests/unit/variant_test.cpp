#include "automation/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "automation/run_time_error.h"
#include "diagnostics/reraise.h"

namespace qz {
namespace {

// The number `f` raised, 0 when it raised nothing.
int32_t ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const RunTimeError& e) {
    return e.number();
  }
  return 0;
}

// Numbers print with 15 significant digits, as the runtime does.
TEST(Variant, TextOfEveryKind) {
  struct Case {
    Variant v;
    const char* text;
  } cases[] = {{Variant(), ""},
               {Variant(int16_t{-32768}), "-32768"},
               {Variant(0.1 + 0.2), "0.3"},
               {Variant(1e20), "1E+20"},
               {Variant::Boolean(true), "True"},
               {Variant::Boolean(false), "False"}};
  for (const auto& c : cases) EXPECT_EQ(c.v.Text(), c.text);
  EXPECT_EQ(ErrorOf([] { Variant::Null().Text(); }), 94);
  for (const Variant& v :
       {Variant::Array({}), Variant::NoDimensions(), Variant(std::shared_ptr<DispatchObject>())})
    EXPECT_EQ(ErrorOf([&] { v.Text(); }), 13);
}

TEST(Variant, ParsesNumericText) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {{"  42 ", 42},      {"+3.25", 3.25}, {".5", 0.5},    {"5.", 5},
               {"2.5E-1", 0.25},   {"1D2", 100},    {"&HFFFF", -1}, {"&H10000", 65536},
               {"&hFFFFFFFF", -1}, {"&O17", 15},    {"\t1\t", 1}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(ParseNumber(c.text), c.value) << c.text;
  for (const char* text : {"", "1x", "1 2", "e5", "1e", "--1", "&H", "&HG", "inf", "nan", "&O9"})
    EXPECT_EQ(ErrorOf([&] { ParseNumber(text); }), 13) << '"' << text << '"';
  EXPECT_EQ(ErrorOf([] { ParseNumber("&H123456789"); }), 6);
}

TEST(Variant, ComparesWithNumbers) {
  struct Case {
    Variant v;
    double n;
    bool equal;
  } cases[] = {{Variant(), 0, true},
               {Variant(), 1, false},
               {Variant(" 1 "), 1, true},
               {Variant("2"), 1, false},
               {Variant(int16_t{2}), 2, true},
               {Variant::Null(), 0, false},
               {Variant::Boolean(true), -1, true}};
  for (const auto& c : cases) EXPECT_EQ(EqualsNumber(c.v, c.n), c.equal) << c.v.Text() << c.n;
  for (const Variant& v : {Variant(""), Variant("zero"), Variant::Array({})})
    EXPECT_EQ(ErrorOf([&] { EqualsNumber(v, 0); }), 13);
}

TEST(Variant, IntegerConversionRoundsHalfToEvenAndOverflows) {
  struct Case {
    Variant v;
    int32_t expected;
  } cases[] = {{Variant(0.5), 0},   {Variant(1.5), 2},   {Variant(2.5), 2},
               {Variant(-2.5), -2}, {Variant("3.5"), 4}, {Variant(32767.4), 32767}};
  for (const auto& c : cases) EXPECT_EQ(c.v.ToInt16(), c.expected) << c.v.Text();
  EXPECT_EQ(Variant(-2147483648.0).ToInt32(), INT32_MIN);
  EXPECT_EQ(ErrorOf([] { Variant(32767.5).ToInt16(); }), 6);
  EXPECT_EQ(ErrorOf([] { Variant(int32_t{-32769}).ToInt16(); }), 6);
  EXPECT_EQ(ErrorOf([] { Variant(2147483648.0).ToInt32(); }), 6);
  EXPECT_EQ(ErrorOf([] { Variant(std::nan("")).ToInt32(); }), 6);
  EXPECT_EQ(ErrorOf([] { Variant::Null().ToInt16(); }), 94);
}

TEST(Variant, ArraysAreIndexedWithinTheirBoundsAndCopiedAsValues) {
  Variant a = Variant::Array({Variant("x"), Variant::Array({Variant("y")})});
  EXPECT_EQ(a.UBound(), 1);
  EXPECT_EQ(Variant::Array({}).UBound(), -1);
  EXPECT_EQ(Variant::Array({Variant("first")}, 1).At(1).Text(), "first");
  for (int64_t outside : {-1, 2}) EXPECT_EQ(ErrorOf([&] { a.At(outside); }), 9);
  EXPECT_EQ(ErrorOf([] { Variant::Array({Variant("first")}, 1).At(0); }), 9);
  EXPECT_EQ(ErrorOf([] { Variant::NoDimensions().UBound(); }), 9);
  for (const Variant& scalar : {Variant(), Variant("s"), Variant::Null(), Variant(int16_t{1})})
    EXPECT_EQ(ErrorOf([&] { scalar.At(0); }), 13);
  Variant copy = a;
  copy.At(1).At(0) = Variant("changed");
  EXPECT_EQ(a.At(1).At(0).Text(), "y");
  EXPECT_NE(copy, a);
}

TEST(RunTimeError, StandardTextsAndReRaising) {
  EXPECT_EQ(RunTimeError(429).description(), "ActiveX component can't create object");
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
  }
}

}  // namespace
}  // namespace qz
