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

void CheckAssignment(OptionSet& options, const std::string& assignment) {
  // The server splits at the first "=" and raises after partial writes when
  // there is none; refusing here keeps a typo from leaving half a change.
  const size_t eq = assignment.find('=');
  if (eq == std::string::npos) return options.Fail("'" + assignment + "' is not KEY=VALUE");
  if (eq == 0) return options.Fail("'" + assignment + "' has no key");
}

}  // namespace

Command ParseSettings(OptionSet& options, CommandWords in) {
  SettingsCommand settings;
  options.Flag("force", 'f', [&] { settings.force = true; });
  const std::vector<std::string> words = options.Parse(in);
  if (options.failed() || options.help()) return settings;
  const std::string action = words.empty() ? "show" : words[0];
  if (action == "show") {
    if (words.size() > 1) options.Fail("settings show takes no arguments");
  } else if (action == "get") {
    settings.action = SettingsCommand::Action::kGet;
    if (words.size() != 2) {
      options.Fail("settings get takes one group: " + GroupNames());
    } else if (!FindSettingsGroup(words[1])) {
      options.Fail("no settings group " + words[1] + " (" + GroupNames() + ")");
    } else {
      settings.group = words[1];
    }
  } else if (action == "set") {
    settings.action = SettingsCommand::Action::kSet;
    if (words.size() < 3) {
      options.Fail("settings set takes a section and at least one KEY=VALUE");
    } else {
      settings.section = words[1];
      settings.assignments.assign(words.begin() + 2, words.end());
      for (const auto& a : settings.assignments) CheckAssignment(options, a);
    }
  } else {
    options.Fail("settings has no action " + action + " (show, get, set)");
  }
  if (settings.force && settings.action != SettingsCommand::Action::kSet)
    options.Fail("--force belongs to settings set");
  return settings;
}

}  // namespace qz::client
