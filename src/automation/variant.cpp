#include "automation/variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "automation/run_time_error.h"
#include "platform/trim.h"

namespace qz {
namespace {

[[noreturn]] void Raise(int32_t number) { throw RunTimeError(number); }

// "&H" / "&O" literals: up to 4 hex digits read as a 16-bit value, up to 8
// as a 32-bit value, so "&HFFFF" is -1 as in the classic runtime.
double ParseRadix(std::string_view digits, int base) {
  if (digits.empty()) Raise(kErrTypeMismatch);
  uint64_t value = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      Raise(kErrTypeMismatch);
    if (d >= base) Raise(kErrTypeMismatch);
    value = value * base + d;
    if (value > 0xFFFFFFFFull) Raise(kErrOverflow);
  }
  if (value <= 0xFFFF && (base == 16 ? digits.size() <= 4 : value <= 0177777))
    return static_cast<int16_t>(static_cast<uint16_t>(value));
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

template <typename Int>
Int RoundToInteger(double value) {
  if (std::isnan(value)) Raise(kErrOverflow);
  double rounded = std::nearbyint(value);  // default rounding: half to even
  if (rounded < std::numeric_limits<Int>::min() || rounded > std::numeric_limits<Int>::max())
    Raise(kErrOverflow);
  return static_cast<Int>(rounded);
}

}  // namespace

double ParseNumber(std::string_view text) {
  std::string_view s = TrimBlanks(text);
  if (s.size() >= 2 && s[0] == '&') {
    char p = s[1];
    if (p == 'H' || p == 'h') return ParseRadix(s.substr(2), 16);
    if (p == 'O' || p == 'o') return ParseRadix(s.substr(2), 8);
    return ParseRadix(s.substr(1), 8);
  }
  bool negative = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  // Validate the shape ourselves: from_chars would accept "inf" and "nan".
  std::string normal;
  normal.reserve(s.size());
  size_t i = 0, digits = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) normal += s[i++], ++digits;
  if (i < s.size() && s[i] == '.') {
    normal += s[i++];
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
      normal += s[i++], ++digits;
  }
  if (digits == 0) Raise(kErrTypeMismatch);
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    normal += 'e';
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) normal += s[i++];
    size_t exp_digits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
      normal += s[i++], ++exp_digits;
    if (exp_digits == 0) Raise(kErrTypeMismatch);
  }
  if (i != s.size()) Raise(kErrTypeMismatch);
  double value = 0;
  auto [ptr, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
  if (ec == std::errc::result_out_of_range) Raise(kErrOverflow);
  if (ec != std::errc() || ptr != normal.data() + normal.size()) Raise(kErrTypeMismatch);
  return negative ? -value : value;
}

Variant Variant::Array(std::vector<Variant> items, int32_t lbound) {
  return Variant(ArrayValue{lbound, std::move(items)});
}

std::string Variant::Text() const {
  switch (kind()) {
    case Kind::Empty:
      return {};
    case Kind::Null:
      Raise(kErrInvalidNull);
    case Kind::Integer:
      return std::to_string(std::get<int16_t>(value_));
    case Kind::Long:
      return std::to_string(std::get<int32_t>(value_));
    case Kind::Double: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.15G", std::get<double>(value_));
      return buf;
    }
    case Kind::String:
      return std::get<std::string>(value_);
    case Kind::Boolean:
      return std::get<BoolValue>(value_).value ? "True" : "False";
    case Kind::Missing:
      Raise(kErrArgumentNotOptional);
    case Kind::Object:
    case Kind::Array:
    case Kind::NoDimArray:
      break;
  }
  Raise(kErrTypeMismatch);
}

double Variant::ToNumber() const {
  switch (kind()) {
    case Kind::Empty:
      return 0;
    case Kind::Null:
      Raise(kErrInvalidNull);
    case Kind::Integer:
      return std::get<int16_t>(value_);
    case Kind::Long:
      return std::get<int32_t>(value_);
    case Kind::Double:
      return std::get<double>(value_);
    case Kind::String:
      return ParseNumber(std::get<std::string>(value_));
    case Kind::Boolean:
      return std::get<BoolValue>(value_).value ? -1 : 0;
    case Kind::Missing:
      Raise(kErrArgumentNotOptional);
    default:
      Raise(kErrTypeMismatch);
  }
}

int16_t Variant::ToInt16() const { return RoundToInteger<int16_t>(ToNumber()); }
int32_t Variant::ToInt32() const { return RoundToInteger<int32_t>(ToNumber()); }

bool Variant::BooleanValue() const {
  if (kind() != Kind::Boolean) Raise(kErrTypeMismatch);
  return std::get<BoolValue>(value_).value;
}

const std::shared_ptr<DispatchObject>& Variant::Object() const {
  if (kind() != Kind::Object) Raise(kErrTypeMismatch);
  return std::get<std::shared_ptr<DispatchObject>>(value_);
}

const Variant::ArrayValue& Variant::ArrayOrRaise() const {
  if (kind() == Kind::NoDimArray) Raise(kErrSubscript);
  if (kind() != Kind::Array) Raise(kErrTypeMismatch);
  return std::get<ArrayValue>(value_);
}

int32_t Variant::LBound() const { return ArrayOrRaise().lbound; }

int32_t Variant::UBound() const {
  const ArrayValue& a = ArrayOrRaise();
  return a.lbound + static_cast<int32_t>(a.items.size()) - 1;
}

const Variant& Variant::At(int64_t index) const {
  const ArrayValue& a = ArrayOrRaise();
  int64_t offset = index - a.lbound;
  if (offset < 0 || offset >= static_cast<int64_t>(a.items.size())) Raise(kErrSubscript);
  return a.items[static_cast<size_t>(offset)];
}

Variant& Variant::At(int64_t index) {
  return const_cast<Variant&>(static_cast<const Variant&>(*this).At(index));
}

const std::vector<Variant>& Variant::Items() const { return ArrayOrRaise().items; }

std::vector<Variant>& Variant::Items() {
  return const_cast<std::vector<Variant>&>(static_cast<const Variant&>(*this).Items());
}

bool EqualsNumber(const Variant& v, double number) {
  if (v.IsNull()) return false;
  return v.ToNumber() == number;
}

}  // namespace qz
