// Walks the words of a command line, recognising "--name VALUE",
// "--name=VALUE", short "-n VALUE" forms and plain words. One reader per
// parse; not shared between threads.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace qz::client {

class OptionReader {
 public:
  explicit OptionReader(std::span<const std::string_view> words) : words_(words) {}

  bool AtEnd() const { return next_ >= words_.size(); }
  std::string_view Current() const { return words_[next_]; }
  // A word that starts with '-' and is not a number like "-1".
  bool AtOption() const;
  std::string_view Take() { return words_[next_++]; }

  // Consumes the current word when it is one of `names`.
  bool Flag(std::initializer_list<std::string_view> names);
  // Consumes the current word and its value when it is one of `names`; a
  // missing value, or one that is not UTF-8 (D-Bus strings must be), is
  // recorded in error().
  bool Value(std::initializer_list<std::string_view> names, std::string& value);

  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }
  void Fail(std::string error) {
    if (error_.empty()) error_ = std::move(error);
  }

 private:
  void CheckUtf8(std::string_view name, const std::string& value);

  std::span<const std::string_view> words_;
  size_t next_ = 0;
  std::string error_;
};

}  // namespace qz::client
