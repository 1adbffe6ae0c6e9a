// The parsers of the single commands. Each declares its options on the set it
// is given (the bus options and --help are already there), reads its words
// and checks what they ask for, refusing through OptionSet::Fail. Not shared
// between threads, as OptionSet.
#pragma once

#include <span>
#include <string_view>

#include "client/commands.h"
#include "client/option_set.h"

namespace qz::client {

using CommandWords = std::span<const std::string_view>;

Command ParseSend(OptionSet& options, CommandWords words);
Command ParseSettings(OptionSet& options, CommandWords words);
Command ParseCall(OptionSet& options, CommandWords words);
Command ParseTestGateway(OptionSet& options, CommandWords words);
Command ParseProfiles(OptionSet& options, CommandWords words);
Command ParseWatch(OptionSet& options, CommandWords words);
Command ParseTokens(OptionSet& options, CommandWords words);
Command ParseJournal(OptionSet& options, CommandWords words);
Command ParseStatus(OptionSet& options, CommandWords words);

}  // namespace qz::client
