// The tagged value that carries every argument, result and request array.
// Conversions follow the classic automation runtime: text of Null raises 94,
// text of an array or object raises 13, integer conversion rounds half to
// even and raises 6 out of range, indexing out of bounds raises 9.
// A plain value type; not shared between threads without copying.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qz {

class DispatchObject;

class Variant {
 public:
  enum class Kind {
    Empty,
    Null,
    Integer,
    Long,
    Double,
    String,
    Boolean,
    Object,
    Array,
    NoDimArray,
    Missing
  };

  Variant() = default;  // Empty
  Variant(int16_t v) : value_(v) {}
  Variant(int32_t v) : value_(v) {}
  Variant(double v) : value_(v) {}
  Variant(std::string v) : value_(std::move(v)) {}
  Variant(std::string_view v) : value_(std::string(v)) {}
  Variant(const char* v) : value_(std::string(v)) {}
  Variant(std::shared_ptr<DispatchObject> v) : value_(std::move(v)) {}
  Variant(bool) = delete;  // Booleans are explicit: Variant::Boolean()

  static Variant Null() { return Variant(NullTag{}); }
  static Variant Boolean(bool v) { return Variant(BoolValue{v}); }
  static Variant NoDimensions() { return Variant(NoDimTag{}); }
  static Variant Missing() { return Variant(MissingTag{}); }
  static Variant Array(std::vector<Variant> items, int32_t lbound = 0);

  Kind kind() const { return static_cast<Kind>(value_.index()); }
  bool IsEmpty() const { return kind() == Kind::Empty; }
  bool IsNull() const { return kind() == Kind::Null; }
  bool IsString() const { return kind() == Kind::String; }
  // True for arrays with and without dimensions.
  bool IsArray() const { return kind() == Kind::Array || kind() == Kind::NoDimArray; }
  bool IsObject() const { return kind() == Kind::Object; }

  // Text by the variant-to-text rule.
  std::string Text() const;
  // Numeric value; a text that is no number raises 13, Null raises 94.
  double ToNumber() const;
  int16_t ToInt16() const;
  int32_t ToInt32() const;
  bool BooleanValue() const;  // raises 13 unless a Boolean

  // The object held (null for an object reference to nothing); raises 13 for
  // any other kind.
  const std::shared_ptr<DispatchObject>& Object() const;

  int32_t LBound() const;
  int32_t UBound() const;
  const Variant& At(int64_t index) const;
  Variant& At(int64_t index);
  // Elements of an array with dimensions; raises as LBound() does.
  const std::vector<Variant>& Items() const;
  std::vector<Variant>& Items();

  friend bool operator==(const Variant&, const Variant&) = default;

 private:
  struct NullTag {
    bool operator==(const NullTag&) const = default;
  };
  struct NoDimTag {
    bool operator==(const NoDimTag&) const = default;
  };
  struct MissingTag {
    bool operator==(const MissingTag&) const = default;
  };
  struct BoolValue {
    bool value;
    bool operator==(const BoolValue&) const = default;
  };
  struct ArrayValue {
    int32_t lbound = 0;
    std::vector<Variant> items;
    bool operator==(const ArrayValue&) const = default;
  };

  explicit Variant(NullTag t) : value_(t) {}
  explicit Variant(BoolValue b) : value_(b) {}
  explicit Variant(NoDimTag t) : value_(t) {}
  explicit Variant(MissingTag t) : value_(t) {}
  explicit Variant(ArrayValue a) : value_(std::move(a)) {}

  const ArrayValue& ArrayOrRaise() const;

  // Alternative order matches Kind.
  std::variant<std::monostate, NullTag, int16_t, int32_t, double, std::string, BoolValue,
               std::shared_ptr<DispatchObject>, ArrayValue, NoDimTag, MissingTag>
      value_;
};

// Equality of a Variant and a number as a comparison in the runtime: Empty
// counts as 0, a text is converted (13 when it is no number), Null is never equal.
bool EqualsNumber(const Variant& v, double number);

// Parses a numeric text: blanks around it, sign, decimals, exponent, &H / &O.
// Raises 13 when the text is no number.
double ParseNumber(std::string_view text);

}  // namespace qz
