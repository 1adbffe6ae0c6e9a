// The --help texts of qznotes and of each command. Constant text, the
// general text built from the command table and the gateway test's from the
// gateway table; safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace qz::client {

extern const std::string_view kSendHelp;
extern const std::string_view kSettingsHelp;
extern const std::string_view kCallHelp;
// Built from the gateway table at its first use.
std::string_view TestGatewayHelp();
extern const std::string_view kProfilesHelp;
extern const std::string_view kTokensHelp;
extern const std::string_view kStatusHelp;
extern const std::string_view kWatchHelp;
extern const std::string_view kJournalHelp;

// `topic` is "" or a command's name; anything else gives the general text.
std::string HelpText(std::string_view topic);

}  // namespace qz::client
