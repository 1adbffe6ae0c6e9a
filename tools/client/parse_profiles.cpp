#include "client/command_parsers.h"

namespace qz::client {

Command ParseProfiles(OptionReader& reader, GlobalOptions& global) {
  ProfilesCommand profiles;
  std::vector<std::string> words;
  bool transport_given = false;
  bool from_given = false;
  std::string value;
  while (!reader.AtEnd() && !reader.failed()) {
    if (TakeGlobalOption(reader, global)) continue;
    if (reader.Flag({"--help", "-h"})) return HelpCommand{"profiles"};
    if (reader.Value({"--transport"}, value)) {
      profiles.transport = value;
      transport_given = true;
    } else if (reader.Value({"--from"}, value)) {
      profiles.from = value;
      from_given = true;
    } else if (reader.AtOption()) {
      reader.Fail("profiles has no option " + std::string(reader.Current()));
    } else {
      words.emplace_back(reader.Take());
    }
  }
  if (reader.failed()) return profiles;
  const std::string action = words.empty() ? "list" : words[0];
  if (action == "list") {
    if (words.size() > 1) reader.Fail("profiles list takes no arguments");
  } else if (action == "set") {
    profiles.action = ProfilesCommand::Action::kSet;
    if (words.size() != 2)
      reader.Fail("profiles set takes one profile name");
    else if (!transport_given || profiles.transport.empty())
      reader.Fail("profiles set needs --transport URL or --transport sendmail");
    else
      profiles.name = words[1];
  } else if (action == "remove") {
    profiles.action = ProfilesCommand::Action::kRemove;
    if (words.size() != 2)
      reader.Fail("profiles remove takes one profile name");
    else
      profiles.name = words[1];
  } else {
    reader.Fail("profiles has no action " + action + " (list, set, remove)");
  }
  if (!reader.failed() && profiles.action != ProfilesCommand::Action::kSet &&
      (transport_given || from_given))
    reader.Fail("--transport and --from belong to profiles set");
  return profiles;
}

}  // namespace qz::client
