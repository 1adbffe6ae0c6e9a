// The settings groups the daemon reads out, each with the operation and
// request code that answers it and its key names in element order, and the
// lines `qznotes settings` prints for an answer. Constant tables and pure
// functions; safe from any thread.
#pragma once

#include <glib.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qz::client {

struct SettingsGroup {
  std::string_view name;       // the word for `qznotes settings get`
  std::string_view operation;  // gvarGetSettings, gvarGetPagerSettings, gvarGetPagerSettingsEx
  std::optional<int16_t> request;
  std::string_view where;  // section and file, for the heading
  std::span<const std::string_view> keys;
  bool key_value_form;  // elements already read "KEY=VALUE"
};

// In the order `qznotes settings` shows them.
std::span<const SettingsGroup> AllSettingsGroups();
const SettingsGroup* FindSettingsGroup(std::string_view name);

// "KEY=VALUE" per element (a value holding control characters quoted);
// "(no settings file)" for Empty, "(not served)" for the array with no
// dimensions; any other answer as FormatText shows it.
std::vector<std::string> SettingsLines(const SettingsGroup& group, GVariant* answer);

// The same answer as one JSON object keyed by setting name, in element
// order ({"TCPPort":"444",...}); an answer that is no array as FormatJson
// shows it ({"kind":"Empty"} for a missing file).
std::string SettingsJson(const SettingsGroup& group, GVariant* answer);

}  // namespace qz::client
