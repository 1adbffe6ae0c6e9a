#include "client/send_advice.h"

namespace qz::client {
namespace {

// The server mails when SMTP has both a server and a sender, or a profile
// names the MAPI route; a subject alone picks no route.
bool HasMailRoute(const MailOptions& mail) {
  return (!mail.smtp_server.empty() && !mail.from.empty()) || !mail.profile.empty();
}

std::string Where(size_t group, size_t message, const SendCommand& send) {
  std::string where = "message " + std::to_string(message + 1);
  if (send.groups.size() > 1) where += " of group " + std::to_string(group + 1);
  return where;
}

}  // namespace

std::vector<std::string> SendWarnings(const SendCommand& send) {
  std::vector<std::string> warnings;
  bool any_email = false;
  bool any_recipient = false;
  std::vector<std::string> silent;  // messages that go nowhere
  for (size_t g = 0; g < send.groups.size(); ++g) {
    for (size_t m = 0; m < send.groups[g].messages.size(); ++m) {
      const Message& message = send.groups[g].messages[m];
      any_email = any_email || !message.emails.empty();
      if (message.emails.empty() && message.pagers.empty()) {
        silent.push_back(Where(g, m, send));
      } else {
        any_recipient = true;
      }
    }
  }
  if (!any_recipient) {
    warnings.push_back(
        "no message has a recipient (--email or --pager after its --message): "
        "nothing will be delivered");
  } else {
    for (const std::string& where : silent)
      warnings.push_back(where + " has no recipient: it will not be delivered");
  }
  if (any_email && !HasMailRoute(send.mail))
    warnings.push_back(
        "--email without a mail route (--smtp-server with --from, or --profile): "
        "no mail will be sent");
  if (send.wait && send.timeout_seconds <= kDispatchDelaySeconds)
    warnings.push_back("--timeout " + std::to_string(send.timeout_seconds) +
                       " is not longer than the server's dispatch delay of " +
                       std::to_string(kDispatchDelaySeconds) +
                       " s: the callback will come too late");
  return warnings;
}

}  // namespace qz::client
