// The parsers of the single commands and of the global options they all
// accept, shared by ParseCommandLine. Pure functions; safe from any thread.
#pragma once

#include "client/commands.h"
#include "client/option_reader.h"

namespace qz::client {

// Consumes one global option (--system, --session, --address, --dest,
// --json) if the reader is at one.
bool TakeGlobalOption(OptionReader& reader, GlobalOptions& global);

// Each reads the words after its command name; errors go to the reader.
Command ParseSend(OptionReader& reader, GlobalOptions& global);
Command ParseSettings(OptionReader& reader, GlobalOptions& global);
Command ParseCall(OptionReader& reader, GlobalOptions& global);
Command ParseTestGateway(OptionReader& reader, GlobalOptions& global);
Command ParseProfiles(OptionReader& reader, GlobalOptions& global);
Command ParseWatch(OptionReader& reader, GlobalOptions& global);

}  // namespace qz::client
