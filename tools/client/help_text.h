// The --help texts of qznotes and of each command. Constant text, and the
// general text built from the command table; safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace qz::client {

extern const std::string_view kSendHelp;
extern const std::string_view kSettingsHelp;
extern const std::string_view kCallHelp;
extern const std::string_view kTestGatewayHelp;
extern const std::string_view kProfilesHelp;
extern const std::string_view kWatchHelp;
extern const std::string_view kJournalHelp;

// `topic` is "" or a command's name; anything else gives the general text.
std::string HelpText(std::string_view topic);

}  // namespace qz::client
