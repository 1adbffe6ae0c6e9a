// Makes D-Bus values for the bus fuzzer from a seeded generator: values of a
// given type with the numbers and strings where parsers break (bounds, empty,
// long, control characters, nesting), and values of random types for calls
// with the wrong signature. Deterministic for a seed. One thread.
#pragma once

#include <gio/gio.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace qz::fuzz {

class ValueMaker {
 public:
  explicit ValueMaker(uint64_t seed) : random_(seed) {}

  uint64_t Below(uint64_t n) { return n ? random_() % n : 0; }
  bool OneIn(uint64_t n) { return Below(n) == 0; }

  // Object paths worth naming: other callers' objects, gone ones, nonsense.
  std::vector<std::string> paths = {"/", "/org/qznotes/QzNotes", "/org/qznotes/QzNotes/0",
                                    "/org/qznotes/QzNotes/999999"};
  // Bus names worth naming as callback parties: callers that come and go.
  std::vector<std::string> names = {"qzCallback.cService", ":1.0", "org.freedesktop.DBus"};

  // A floating value of `type`, nested at most `depth` more levels.
  GVariant* Of(const GVariantType* type, int depth = 6) {
    if (g_variant_type_is_basic(type)) return Basic(type);
    if (g_variant_type_is_variant(type))
      return g_variant_new_variant(depth > 0 ? Any(depth - 1) : Basic(G_VARIANT_TYPE_INT32));
    if (g_variant_type_is_maybe(type))
      return g_variant_new_maybe(g_variant_type_element(type), nullptr);
    if (g_variant_type_is_array(type)) {
      const GVariantType* element = g_variant_type_element(type);
      GVariantBuilder builder;
      g_variant_builder_init(&builder, type);
      const uint64_t n = depth <= 0 ? 0 : Length();
      for (uint64_t i = 0; i < n; ++i)
        g_variant_builder_add_value(&builder, Of(element, depth - 1));
      return g_variant_builder_end(&builder);
    }
    // A tuple or a dictionary entry.
    std::vector<GVariant*> items;
    for (const GVariantType* item = g_variant_type_first(type); item;
         item = g_variant_type_next(item))
      items.push_back(Of(item, depth - 1));
    if (g_variant_type_is_dict_entry(type)) return g_variant_new_dict_entry(items[0], items[1]);
    return g_variant_new_tuple(items.data(), items.size());
  }

  // A value of a random type, the types a COM-like contract carries most.
  GVariant* Any(int depth) {
    static const char* const kTypes[] = {"s", "i", "n", "u",  "x",  "t",     "d",    "b",   "y",
                                         "o", "g", "v", "as", "av", "a{sv}", "(sv)", "aav", "ay"};
    GVariantType* type = g_variant_type_new(kTypes[Below(std::size(kTypes))]);
    GVariant* value = Of(type, depth);
    g_variant_type_free(type);
    return value;
  }

  // The arguments of a call with signature `in` ("(ss)"), or of a random one.
  GVariant* Arguments(const std::string& in) {
    // Now and then a call past the element limits; most stay small.
    budget_ = OneIn(20) ? 20000 : 200;
    long_texts_ = 1;
    if (OneIn(4)) {
      std::vector<GVariant*> items(Below(4));
      for (GVariant*& item : items) item = Any(4);
      return g_variant_new_tuple(items.data(), items.size());
    }
    GVariantType* type = g_variant_type_new(in.c_str());
    GVariant* value = Of(type);
    g_variant_type_free(type);
    return value;
  }

  std::string Text() {
    // Empty, a name the server knows, non-ASCII, a header injection, a format string.
    static const char* const kFixed[] = {"", "QzNotes.cNotify",
                                         "\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x9f",
                                         "line\r\nInjected: 1\r\n.\r\n", "%s%n%x"};
    const uint64_t kind = Below(9);
    if (kind < std::size(kFixed)) return kFixed[kind];
    if (kind == 5 && long_texts_ > 0) {
      --long_texts_;
      return std::string(1 + Below(70000), static_cast<char>('a' + Below(26)));
    }
    if (kind == 6) return std::to_string(static_cast<int64_t>(random_()));
    if (kind == 7) return OneIn(2) ? paths[Below(paths.size())] : names[Below(names.size())];
    std::string text(Below(40), ' ');
    for (char& c : text) c = static_cast<char>(1 + Below(126));
    return text;
  }

 private:
  uint64_t Length() {
    uint64_t n = 1 + Below(8);
    if (OneIn(10)) n = 0;
    if (OneIn(10)) n = 1000 + Below(9000);
    n = std::min(n, budget_);
    budget_ -= n;
    return n;
  }
  template <typename T>
  T Number() {
    const T bounds[] = {0,
                        1,
                        static_cast<T>(-1),
                        std::numeric_limits<T>::min(),
                        std::numeric_limits<T>::max(),
                        static_cast<T>(32767),
                        static_cast<T>(32768)};
    return OneIn(3) ? static_cast<T>(random_()) : bounds[Below(std::size(bounds))];
  }
  GVariant* Basic(const GVariantType* type) {
    const char kind = g_variant_type_peek_string(type)[0];
    if (kind == 'b') return g_variant_new_boolean(OneIn(2));
    if (kind == 'y') return g_variant_new_byte(Number<uint8_t>());
    if (kind == 'n') return g_variant_new_int16(Number<int16_t>());
    if (kind == 'q') return g_variant_new_uint16(Number<uint16_t>());
    if (kind == 'i') return g_variant_new_int32(Number<int32_t>());
    if (kind == 'u') return g_variant_new_uint32(Number<uint32_t>());
    if (kind == 'x') return g_variant_new_int64(Number<int64_t>());
    if (kind == 't') return g_variant_new_uint64(Number<uint64_t>());
    if (kind == 'h') return g_variant_new_handle(0);
    if (kind == 'o') return g_variant_new_object_path(paths[Below(paths.size())].c_str());
    if (kind == 'g') return g_variant_new_signature(OneIn(2) ? "a{sv}" : "");
    if (kind == 'd') {
      const double doubles[] = {0, -0.0, 1e308, -1e308, NAN, INFINITY, 32767.5, 2.5};
      return g_variant_new_double(doubles[Below(std::size(doubles))]);
    }
    return g_variant_new_string(Text().c_str());
  }

  std::mt19937_64 random_;
  uint64_t budget_ = 200;  // elements the current call may still hold
  int long_texts_ = 1;     // long strings it may still hold
};

}  // namespace qz::fuzz
