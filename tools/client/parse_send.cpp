#include <charconv>

#include "client/command_parsers.h"

namespace qz::client {
namespace {

constexpr int kLongestWaitSeconds = 24 * 60 * 60;

bool ParseSeconds(std::string_view text, int lowest, int& seconds) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  return ec == std::errc() && end == text.data() + text.size() && seconds >= lowest &&
         seconds <= kLongestWaitSeconds;
}

// Adds a recipient to the latest message: recipients belong to a message.
void TakeRecipient(OptionSet& options, SendCommand& send, std::string_view option,
                   std::string value, bool email) {
  if (send.groups.empty() || send.groups.back().messages.empty())
    return options.Fail(std::string(option) + " must follow the --message it belongs to");
  Message& message = send.groups.back().messages.back();
  (email ? message.emails : message.pagers).push_back(std::move(value));
}

void Validate(OptionSet& options, const SendCommand& send, bool timeout_given, bool hold_given) {
  if (send.groups.empty()) return options.Fail("send needs at least one --message");
  for (size_t i = 0; i < send.groups.size(); ++i) {
    if (send.groups[i].messages.empty())
      return options.Fail("group " + std::to_string(i + 1) + " has no --message");
  }
  if (send.wait && !send.callback_host.empty())
    return options.Fail("--wait and --callback-host exclude each other");
  if (timeout_given && !send.wait) return options.Fail("--timeout needs --wait");
  if (hold_given && send.wait) return options.Fail("--hold is for sends without --wait");
  bool any_email = false;
  for (const Group& g : send.groups) {
    for (const Message& m : g.messages) any_email = any_email || !m.emails.empty();
  }
  // The server mails only requests that carry a subject; without one the
  // addresses would be dropped without a word.
  if (any_email && send.mail.subject.empty()) return options.Fail("--email needs --subject");
}

void AddMailOptions(OptionSet& options, MailOptions& mail) {
  auto text = [&mail](std::string& field) {
    return [&mail, &field](std::string value) {
      field = std::move(value);
      mail.given = true;
    };
  };
  options.Value("subject", 's', text(mail.subject));
  options.Value("from", 0, text(mail.from));
  options.Value("profile", 0, text(mail.profile));
  options.Value("smtp-server", 0, text(mail.smtp_server));
  options.Flag("prefer-smtp", 0, [&mail] {
    mail.prefer_smtp = true;
    mail.given = true;
  });
}

}  // namespace

Command ParseSend(OptionSet& options, CommandWords in) {
  SendCommand send;
  bool timeout_given = false;
  bool hold_given = false;
  AddMailOptions(options, send.mail);
  options.Value("test-id", 0, [&](std::string value) { send.test_id = std::move(value); });
  options.Flag("group", 'g', [&] { send.groups.emplace_back(); });
  options.Value("message", 'm', [&](std::string value) {
    if (send.groups.empty()) send.groups.emplace_back();
    send.groups.back().messages.push_back(Message{std::move(value), {}, {}});
  });
  options.Value("email", 'e', [&](std::string value) {
    TakeRecipient(options, send, "--email", std::move(value), true);
  });
  options.Value("pager", 'p', [&](std::string value) {
    TakeRecipient(options, send, "--pager", std::move(value), false);
  });
  options.Value("callback-host", 0, [&](std::string value) {
    if (value.empty()) options.Fail("--callback-host needs a host name");
    send.callback_host = std::move(value);
  });
  options.Flag("wait", 'w', [&] { send.wait = true; });
  options.Value("timeout", 0, [&](std::string value) {
    timeout_given = true;
    if (!ParseSeconds(value, 1, send.timeout_seconds))
      options.Fail("--timeout takes whole seconds from 1 to " +
                   std::to_string(kLongestWaitSeconds));
  });
  options.Value("hold", 0, [&](std::string value) {
    hold_given = true;
    if (!ParseSeconds(value, 0, send.hold_seconds))
      options.Fail("--hold takes whole seconds from 0 to " + std::to_string(kLongestWaitSeconds));
  });
  const std::vector<std::string> words = options.Parse(in);
  if (options.failed() || options.help()) return send;
  if (!words.empty())
    options.Fail("unexpected " + words[0] + " (message texts follow --message)");
  else
    Validate(options, send, timeout_given, hold_given);
  return send;
}

}  // namespace qz::client
