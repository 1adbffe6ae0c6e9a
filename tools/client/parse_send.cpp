#include <charconv>

#include "client/command_parsers.h"

namespace qz::client {
namespace {

constexpr int kLongestWaitSeconds = 24 * 60 * 60;

Message* LatestMessage(SendCommand& send) {
  if (send.groups.empty() || send.groups.back().messages.empty()) return nullptr;
  return &send.groups.back().messages.back();
}

bool ParseSeconds(std::string_view text, int lowest, int& seconds) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  return ec == std::errc() && end == text.data() + text.size() && seconds >= lowest &&
         seconds <= kLongestWaitSeconds;
}

bool TakeMailOption(OptionReader& reader, MailOptions& mail) {
  if (reader.Value({"--subject", "-s"}, mail.subject) || reader.Value({"--from"}, mail.from) ||
      reader.Value({"--profile"}, mail.profile) ||
      reader.Value({"--smtp-server"}, mail.smtp_server)) {
    mail.given = true;
    return true;
  }
  if (reader.Flag({"--prefer-smtp"})) {
    mail.prefer_smtp = true;
    mail.given = true;
    return true;
  }
  return false;
}

// Adds a recipient to the latest message: recipients belong to a message.
void TakeRecipient(OptionReader& reader, SendCommand& send, std::string_view option,
                   std::string value, bool email) {
  Message* message = LatestMessage(send);
  if (!message) {
    reader.Fail(std::string(option) + " must follow the --message it belongs to");
    return;
  }
  (email ? message->emails : message->pagers).push_back(std::move(value));
}

void Validate(OptionReader& reader, const SendCommand& send, bool timeout_given, bool hold_given) {
  if (send.groups.empty()) return reader.Fail("send needs at least one --message");
  for (size_t i = 0; i < send.groups.size(); ++i) {
    if (send.groups[i].messages.empty())
      return reader.Fail("group " + std::to_string(i + 1) + " has no --message");
  }
  if (send.wait && !send.callback_host.empty())
    return reader.Fail("--wait and --callback-host exclude each other");
  if (timeout_given && !send.wait) return reader.Fail("--timeout needs --wait");
  if (hold_given && send.wait) return reader.Fail("--hold is for sends without --wait");
  bool any_email = false;
  for (const Group& g : send.groups) {
    for (const Message& m : g.messages) any_email = any_email || !m.emails.empty();
  }
  // The server mails only requests that carry a subject; without one the
  // addresses would be dropped without a word.
  if (any_email && send.mail.subject.empty()) return reader.Fail("--email needs --subject");
}

}  // namespace

Command ParseSend(OptionReader& reader, GlobalOptions& global) {
  SendCommand send;
  bool timeout_given = false;
  bool hold_given = false;
  std::string value;
  while (!reader.AtEnd() && !reader.failed()) {
    if (TakeGlobalOption(reader, global) || TakeMailOption(reader, send.mail) ||
        reader.Value({"--test-id"}, send.test_id))
      continue;
    if (reader.Flag({"--help", "-h"})) return HelpCommand{"send"};
    if (reader.Flag({"--group", "-g"})) {
      send.groups.emplace_back();
    } else if (reader.Value({"--message", "-m"}, value)) {
      if (send.groups.empty()) send.groups.emplace_back();
      send.groups.back().messages.push_back(Message{value, {}, {}});
    } else if (reader.Value({"--email", "-e"}, value)) {
      TakeRecipient(reader, send, "--email", value, true);
    } else if (reader.Value({"--pager", "-p"}, value)) {
      TakeRecipient(reader, send, "--pager", value, false);
    } else if (reader.Value({"--callback-host"}, value)) {
      if (value.empty()) reader.Fail("--callback-host needs a host name");
      send.callback_host = value;
    } else if (reader.Flag({"--wait", "-w"})) {
      send.wait = true;
    } else if (reader.Value({"--timeout"}, value)) {
      timeout_given = true;
      if (!ParseSeconds(value, 1, send.timeout_seconds))
        reader.Fail("--timeout takes whole seconds from 1 to " +
                    std::to_string(kLongestWaitSeconds));
    } else if (reader.Value({"--hold"}, value)) {
      hold_given = true;
      if (!ParseSeconds(value, 0, send.hold_seconds))
        reader.Fail("--hold takes whole seconds from 0 to " + std::to_string(kLongestWaitSeconds));
    } else if (reader.AtOption()) {
      reader.Fail("send has no option " + std::string(reader.Current()));
    } else {
      reader.Fail("unexpected " + std::string(reader.Current()) +
                  " (message texts follow --message)");
    }
  }
  if (!reader.failed()) Validate(reader, send, timeout_given, hold_given);
  return send;
}

}  // namespace qz::client
