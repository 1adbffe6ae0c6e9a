#include "client/command_line.h"

#include "client/command_parsers.h"

namespace qz::client {
namespace {

void ChooseBus(OptionReader& reader, GlobalOptions& global, BusKind kind, std::string address) {
  if (global.bus != BusKind::kSession && (global.bus != kind || global.address != address))
    reader.Fail("choose one of --session, --system and --address");
  global.bus = kind;
  global.address = std::move(address);
}

bool IsCommand(std::string_view word) {
  return word == "send" || word == "settings" || word == "call" || word == "test-gateway" ||
         word == "profiles" || word == "watch";
}

}  // namespace

bool TakeGlobalOption(OptionReader& reader, GlobalOptions& global) {
  std::string value;
  if (reader.Flag({"--session"})) {
    ChooseBus(reader, global, BusKind::kSession, "");
  } else if (reader.Flag({"--system"})) {
    ChooseBus(reader, global, BusKind::kSystem, "");
  } else if (reader.Value({"--address"}, value)) {
    if (value.empty()) reader.Fail("--address needs a bus address");
    ChooseBus(reader, global, BusKind::kAddress, value);
  } else if (reader.Value({"--dest"}, value)) {
    if (value.empty()) reader.Fail("--dest needs a bus name");
    global.destination = value;
  } else if (reader.Flag({"--json"})) {
    global.json = true;
  } else {
    return false;
  }
  return true;
}

ParsedCommandLine ParseCommandLine(std::span<const std::string_view> words) {
  ParsedCommandLine parsed;
  OptionReader reader(words);
  GlobalOptions& global = parsed.invocation.global;
  while (!reader.AtEnd() && !reader.failed()) {
    if (TakeGlobalOption(reader, global)) continue;
    if (reader.Flag({"--help", "-h"})) {
      parsed.invocation.command = HelpCommand{};
      return parsed;
    }
    if (reader.Flag({"--version"})) {
      parsed.invocation.command = VersionCommand{};
      return parsed;
    }
    if (reader.AtOption()) {
      reader.Fail("unknown option " + std::string(reader.Current()));
      break;
    }
    const std::string_view word = reader.Take();
    if (word == "help") {
      HelpCommand help;
      if (!reader.AtEnd()) help.topic = reader.Take();
      if (!help.topic.empty() && !IsCommand(help.topic)) reader.Fail("no command " + help.topic);
      parsed.invocation.command = help;
    } else if (word == "send") {
      parsed.invocation.command = ParseSend(reader, global);
    } else if (word == "settings") {
      parsed.invocation.command = ParseSettings(reader, global);
    } else if (word == "call") {
      parsed.invocation.command = ParseCall(reader, global);
    } else if (word == "test-gateway") {
      parsed.invocation.command = ParseTestGateway(reader, global);
    } else if (word == "profiles") {
      parsed.invocation.command = ParseProfiles(reader, global);
    } else if (word == "watch") {
      parsed.invocation.command = ParseWatch(reader, global);
    } else {
      reader.Fail("no command " + std::string(word) +
                  " (send, settings, call, test-gateway, profiles, watch, help)");
    }
    // A command's --help ends the reading; whatever follows it is not looked at.
    const bool help = std::holds_alternative<HelpCommand>(parsed.invocation.command);
    if (!help && !reader.failed() && !reader.AtEnd())
      reader.Fail("unexpected " + std::string(reader.Current()));
    parsed.error = reader.error();
    return parsed;
  }
  parsed.error =
      reader.failed()
          ? reader.error()
          : "no command given (send, settings, call, test-gateway, profiles, watch, help)";
  return parsed;
}

}  // namespace qz::client
