// The options of one command (or of the program itself) read with GLib's
// GOptionContext: each option is declared with the handler that takes it,
// handlers run in command-line order, and the words that are no option come
// back in order. Every set also accepts the bus options and --help. One set
// per parse, its own GOption context; not shared between threads.
#pragma once

#include <glib.h>

#include <deque>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "client/commands.h"
#include "platform/status.h"

namespace qz::client {

class OptionSet {
 public:
  using FlagHandler = std::function<void()>;
  // Values are checked to be UTF-8 (D-Bus strings must be) before this runs.
  using ValueHandler = std::function<void(std::string value)>;

  explicit OptionSet(GlobalOptions& global);

  // `short_name` 0 for none. No per-option help: each command's help text
  // is written by hand (help_text.cpp) to group its options.
  void Flag(const char* long_name, char short_name, FlagHandler handler);
  void Value(const char* long_name, char short_name, ValueHandler handler);
  // Options end at the first word that is no option ("call OPERATION ARGS").
  void StopAtFirstWord() { stop_at_first_word_ = true; }
  // The words are a command's, checked by its own set: pass them as they are.
  void LeaveWordsToCommand() { check_words_ = false; }

  // The words that are no option, "--" left out; empty after an error or
  // --help. A handler's Fail ends the reading; an unknown option is refused
  // once every known one was read.
  std::vector<std::string> Parse(std::span<const std::string_view> words);

  // For handlers: refuse the option being read; the first reason is kept.
  void Fail(std::string reason);

  bool help() const { return help_; }
  // Why the reading failed: the first reason given.
  const Status& status() const { return status_; }
  bool failed() const { return !status_.ok(); }
  GlobalOptions& global() { return global_; }

 private:
  struct Entry {
    std::string long_name;
    char short_name;
    bool takes_value;
    FlagHandler flag;
    ValueHandler value;
  };
  void AddGlobalOptions();
  const Entry* Find(std::string_view option_name) const;
  static gboolean Take(const gchar* option_name, const gchar* value, gpointer data, GError** error);

  GlobalOptions& global_;
  std::deque<Entry> entries_;  // stable addresses: GOption keeps their names
  bool stop_at_first_word_ = false;
  bool check_words_ = true;
  bool help_ = false;
  Status status_;
};

}  // namespace qz::client
