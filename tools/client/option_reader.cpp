#include "client/option_reader.h"

#include <glib.h>

namespace qz::client {

bool OptionReader::AtOption() const {
  if (AtEnd()) return false;
  const std::string_view w = Current();
  if (w.size() < 2 || w[0] != '-') return false;
  return !(w[1] >= '0' && w[1] <= '9');
}

void OptionReader::CheckUtf8(std::string_view name, const std::string& value) {
  if (!g_utf8_validate(value.data(), static_cast<gssize>(value.size()), nullptr))
    Fail("the value of " + std::string(name) + " is not valid UTF-8");
}

bool OptionReader::Flag(std::initializer_list<std::string_view> names) {
  if (AtEnd()) return false;
  for (std::string_view name : names) {
    if (Current() == name) {
      ++next_;
      return true;
    }
  }
  return false;
}

bool OptionReader::Value(std::initializer_list<std::string_view> names, std::string& value) {
  if (AtEnd()) return false;
  const std::string_view w = Current();
  for (std::string_view name : names) {
    if (w == name) {
      ++next_;
      if (AtEnd()) {
        Fail(std::string(name) + " needs a value");
        return true;
      }
      value = Take();
      CheckUtf8(name, value);
      return true;
    }
    // Only long options take the attached "=VALUE" form.
    if (name.starts_with("--") && w.size() > name.size() && w.starts_with(name) &&
        w[name.size()] == '=') {
      ++next_;
      value = w.substr(name.size() + 1);
      CheckUtf8(name, value);
      return true;
    }
  }
  return false;
}

}  // namespace qz::client
