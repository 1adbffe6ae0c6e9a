#include <glib.h>

#include "client/command_parsers.h"
#include "client/settings_groups.h"

namespace qz::client {
namespace {

std::string GroupNames() {
  std::string names;
  for (const auto& g : AllSettingsGroups()) {
    if (!names.empty()) names += ", ";
    names += g.name;
  }
  return names;
}

void CheckAssignment(OptionReader& reader, const std::string& assignment) {
  // The server splits at the first "=" and raises after partial writes when
  // there is none; refusing here keeps a typo from leaving half a change.
  const size_t eq = assignment.find('=');
  if (eq == std::string::npos) return reader.Fail("'" + assignment + "' is not KEY=VALUE");
  if (eq == 0) return reader.Fail("'" + assignment + "' has no key");
  if (!g_utf8_validate(assignment.data(), static_cast<gssize>(assignment.size()), nullptr))
    reader.Fail("a setting is not valid UTF-8");
}

}  // namespace

Command ParseSettings(OptionReader& reader, GlobalOptions& global) {
  std::vector<std::string> words;
  bool options_done = false;
  while (!reader.AtEnd() && !reader.failed()) {
    if (!options_done) {
      if (TakeGlobalOption(reader, global)) continue;
      if (reader.Flag({"--help", "-h"})) return HelpCommand{"settings"};
      if (reader.Flag({"--"})) {
        options_done = true;
        continue;
      }
      if (reader.AtOption()) {
        reader.Fail("settings has no option " + std::string(reader.Current()));
        break;
      }
    }
    words.emplace_back(reader.Take());
  }
  SettingsCommand settings;
  if (reader.failed()) return settings;
  const std::string action = words.empty() ? "show" : words[0];
  if (action == "show") {
    if (words.size() > 1) reader.Fail("settings show takes no arguments");
  } else if (action == "get") {
    settings.action = SettingsCommand::Action::kGet;
    if (words.size() != 2) {
      reader.Fail("settings get takes one group: " + GroupNames());
    } else if (!FindSettingsGroup(words[1])) {
      reader.Fail("no settings group " + words[1] + " (" + GroupNames() + ")");
    } else {
      settings.group = words[1];
    }
  } else if (action == "set") {
    settings.action = SettingsCommand::Action::kSet;
    if (words.size() < 3) {
      reader.Fail("settings set takes a section and at least one KEY=VALUE");
    } else {
      settings.section = words[1];
      settings.assignments.assign(words.begin() + 2, words.end());
      for (const auto& a : settings.assignments) CheckAssignment(reader, a);
    }
  } else {
    reader.Fail("settings has no action " + action + " (show, get, set)");
  }
  return settings;
}

}  // namespace qz::client
