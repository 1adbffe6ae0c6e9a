#include "client/command_parsers.h"

namespace qz::client {

Command ParseProfiles(OptionSet& options, CommandWords in) {
  ProfilesCommand profiles;
  bool transport_given = false;
  bool from_given = false;
  options.Value("transport", 0, [&](std::string value) {
    profiles.transport = std::move(value);
    transport_given = true;
  });
  options.Value("from", 0, [&](std::string value) {
    profiles.from = std::move(value);
    from_given = true;
  });
  const std::vector<std::string> words = options.Parse(in);
  if (options.failed() || options.help()) return profiles;
  const std::string action = words.empty() ? "list" : words[0];
  if (action == "list") {
    if (words.size() > 1) options.Fail("profiles list takes no arguments");
  } else if (action == "set") {
    profiles.action = ProfilesCommand::Action::kSet;
    if (words.size() != 2)
      options.Fail("profiles set takes one profile name");
    else if (!transport_given || profiles.transport.empty())
      options.Fail("profiles set needs --transport URL or --transport sendmail");
    else
      profiles.name = words[1];
  } else if (action == "remove") {
    profiles.action = ProfilesCommand::Action::kRemove;
    if (words.size() != 2)
      options.Fail("profiles remove takes one profile name");
    else
      profiles.name = words[1];
  } else {
    options.Fail("profiles has no action " + action + " (list, set, remove)");
  }
  if (!options.failed() && profiles.action != ProfilesCommand::Action::kSet &&
      (transport_given || from_given))
    options.Fail("--transport and --from belong to profiles set");
  return profiles;
}

}  // namespace qz::client
