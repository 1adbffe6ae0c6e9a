// An SMTP server's reply lines, any bytes, over a real loopback connection
// through the same transport the mail channel sends with.
#include <fuzzer/FuzzedDataProvider.h>
#include <cstdint>
#include <string>
#include <vector>

#include "gateways/mail/smtp_transport.h"
#include "scripted_peer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qz::fuzz::ScriptedServer server;
  FuzzedDataProvider input(data, size);
  std::vector<std::string> replies = qz::fuzz::Pieces(input, 16, 512);

  server.Serve(replies, [&] {
    const std::string to[] = {"pager@example.org"};
    qz::SmtpOptions limits;
    limits.connect_limit = std::chrono::milliseconds(2000);
    limits.total_limit = std::chrono::milliseconds(3000);
    const qz::SmtpOutcome outcome =
        qz::SendSmtp("127.0.0.1:" + std::to_string(server.port()), "qznotes@example.org", to,
                     "Subject: fuzz\r\n\r\nbody\r\n", limits);
    if (outcome.code != 0 && (outcome.code < 400 || outcome.code > 599)) __builtin_trap();
    if (outcome.reply.find('\n') != std::string::npos) __builtin_trap();
    qz::SmtpReplyKind(outcome.code);
  });
  return 0;
}
