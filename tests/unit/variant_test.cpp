#include "automation/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <tuple>

#include "automation/run_time_error.h"

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
TEST(Variant, Text) {
  for (auto [v, text] : {std::pair{Variant(), ""},
                         {Variant(int16_t{-32768}), "-32768"},
                         {Variant(0.1 + 0.2), "0.3"},
                         {Variant(1e20), "1E+20"},
                         {Variant::Boolean(true), "True"}})
    EXPECT_EQ(v.Text(), text);
  EXPECT_EQ(ErrorOf([] { Variant::Null().Text(); }), 94);
  for (const Variant& v : {Variant::Array({}), Variant(std::shared_ptr<DispatchObject>())})
    EXPECT_EQ(ErrorOf([&] { v.Text(); }), 13);
}

TEST(Variant, ParsesNumericText) {
  for (auto [text, value] : {std::pair{"  42 ", 42.0},
                             {".5", 0.5},
                             {"2.5E-1", 0.25},
                             {"1D2", 100},
                             {"&HFFFF", -1},
                             {"&H10000", 65536},
                             {"&O17", 15}})
    EXPECT_DOUBLE_EQ(ParseNumber(text), value) << text;
  for (const char* text : {"", "1x", "1 2", "1e", "--1", "&HG", "inf", "&O9"})
    EXPECT_EQ(ErrorOf([&] { ParseNumber(text); }), 13) << '"' << text << '"';
  EXPECT_EQ(ErrorOf([] { ParseNumber("&H123456789"); }), 6);
}

// True is -1; Empty is 0; text must be a number.
TEST(Variant, ComparesWithNumbers) {
  for (auto [v, n, equal] : {std::tuple{Variant(), 0.0, true},
                             {Variant(), 1, false},
                             {Variant(" 1 "), 1, true},
                             {Variant("2"), 1, false},
                             {Variant::Null(), 0, false},
                             {Variant::Boolean(true), -1, true}})
    EXPECT_EQ(EqualsNumber(v, n), equal) << v.Text() << " vs " << n;
  for (const Variant& v : {Variant(""), Variant::Array({})})
    EXPECT_EQ(ErrorOf([&] { EqualsNumber(v, 0); }), 13);
}

TEST(Variant, IntegerConversionRoundsHalfToEvenAndOverflows) {
  for (auto [v, expected] : {std::pair{Variant(0.5), 0},
                             {Variant(1.5), 2},
                             {Variant(-2.5), -2},
                             {Variant("3.5"), 4},
                             {Variant(32767.4), 32767}})
    EXPECT_EQ(v.ToInt16(), expected) << v.Text();
  EXPECT_EQ(Variant(-2147483648.0).ToInt32(), INT32_MIN);
  EXPECT_EQ(ErrorOf([] { Variant(32767.5).ToInt16(); }), 6);
  EXPECT_EQ(ErrorOf([] { Variant(std::nan("")).ToInt32(); }), 6);
  EXPECT_EQ(ErrorOf([] { Variant::Null().ToInt16(); }), 94);
}

TEST(Variant, ArraysAreIndexedWithinTheirBoundsAndCopiedAsValues) {
  Variant a = Variant::Array({Variant("x"), Variant::Array({Variant("y")})});
  const Variant one_based = Variant::Array({Variant("first")}, 1);
  EXPECT_EQ(Variant::Array({}).UBound(), -1);
  EXPECT_EQ(one_based.At(1).Text(), "first");
  for (int64_t outside : {-1, 2}) EXPECT_EQ(ErrorOf([&] { a.At(outside); }), 9);
  EXPECT_EQ(ErrorOf([&] { one_based.At(0); }), 9);
  EXPECT_EQ(ErrorOf([] { Variant::NoDimensions().UBound(); }), 9);
  EXPECT_EQ(ErrorOf([] { Variant("s").At(0); }), 13);
  Variant copy = a;
  copy.At(1).At(0) = Variant("changed");
  EXPECT_EQ(a.At(1).At(0).Text(), "y");
  EXPECT_NE(copy, a);
}

}  // namespace
}  // namespace qz
