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
TEST(Variant, TextOfEveryKind) {
  for (auto [v, text] : {std::pair{Variant(), ""},
                         {Variant(int16_t{-32768}), "-32768"},
                         {Variant(0.1 + 0.2), "0.3"},
                         {Variant(1e20), "1E+20"},
                         {Variant::Boolean(true), "True"},
                         {Variant::Boolean(false), "False"}})
    EXPECT_EQ(v.Text(), text);
  EXPECT_EQ(ErrorOf([] { Variant::Null().Text(); }), 94);
  for (const Variant& v :
       {Variant::Array({}), Variant::NoDimensions(), Variant(std::shared_ptr<DispatchObject>())})
    EXPECT_EQ(ErrorOf([&] { v.Text(); }), 13);
}

TEST(Variant, ParsesNumericText) {
  for (auto [text, value] : {std::pair{"  42 ", 42.0},
                             {"+3.25", 3.25},
                             {".5", 0.5},
                             {"5.", 5},
                             {"2.5E-1", 0.25},
                             {"1D2", 100},
                             {"&HFFFF", -1},
                             {"&H10000", 65536},
                             {"&hFFFFFFFF", -1},
                             {"&O17", 15},
                             {"\t1\t", 1}})
    EXPECT_DOUBLE_EQ(ParseNumber(text), value) << text;
  for (const char* text : {"", "1x", "1 2", "e5", "1e", "--1", "&H", "&HG", "inf", "nan", "&O9"})
    EXPECT_EQ(ErrorOf([&] { ParseNumber(text); }), 13) << '"' << text << '"';
  EXPECT_EQ(ErrorOf([] { ParseNumber("&H123456789"); }), 6);
}

TEST(Variant, ComparesWithNumbers) {
  for (auto [v, n, equal] : {std::tuple{Variant(), 0.0, true},
                             {Variant(), 1, false},
                             {Variant(" 1 "), 1, true},
                             {Variant("2"), 1, false},
                             {Variant(int16_t{2}), 2, true},
                             {Variant::Null(), 0, false},
                             {Variant::Boolean(true), -1, true}})
    EXPECT_EQ(EqualsNumber(v, n), equal) << v.Text() << " vs " << n;
  for (const Variant& v : {Variant(""), Variant("zero"), Variant::Array({})})
    EXPECT_EQ(ErrorOf([&] { EqualsNumber(v, 0); }), 13);
}

TEST(Variant, IntegerConversionRoundsHalfToEvenAndOverflows) {
  for (auto [v, expected] : {std::pair{Variant(0.5), 0},
                             {Variant(1.5), 2},
                             {Variant(2.5), 2},
                             {Variant(-2.5), -2},
                             {Variant("3.5"), 4},
                             {Variant(32767.4), 32767}})
    EXPECT_EQ(v.ToInt16(), expected) << v.Text();
  EXPECT_EQ(Variant(-2147483648.0).ToInt32(), INT32_MIN);
  for (const Variant& v : {Variant(32767.5), Variant(int32_t{-32769})})
    EXPECT_EQ(ErrorOf([&] { v.ToInt16(); }), 6) << v.Text();
  for (const Variant& v : {Variant(2147483648.0), Variant(std::nan(""))})
    EXPECT_EQ(ErrorOf([&] { v.ToInt32(); }), 6) << v.Text();
  EXPECT_EQ(ErrorOf([] { Variant::Null().ToInt16(); }), 94);
}

TEST(Variant, ArraysAreIndexedWithinTheirBoundsAndCopiedAsValues) {
  Variant a = Variant::Array({Variant("x"), Variant::Array({Variant("y")})});
  const Variant one_based = Variant::Array({Variant("first")}, 1);
  EXPECT_EQ(a.UBound(), 1);
  EXPECT_EQ(Variant::Array({}).UBound(), -1);
  EXPECT_EQ(one_based.At(1).Text(), "first");
  for (int64_t outside : {-1, 2}) EXPECT_EQ(ErrorOf([&] { a.At(outside); }), 9);
  EXPECT_EQ(ErrorOf([&] { one_based.At(0); }), 9);
  EXPECT_EQ(ErrorOf([] { Variant::NoDimensions().UBound(); }), 9);
  for (const Variant& scalar : {Variant(), Variant("s"), Variant::Null(), Variant(int16_t{1})})
    EXPECT_EQ(ErrorOf([&] { scalar.At(0); }), 13);
  Variant copy = a;
  copy.At(1).At(0) = Variant("changed");
  EXPECT_EQ(a.At(1).At(0).Text(), "y");
  EXPECT_NE(copy, a);
}

}  // namespace
}  // namespace qz
