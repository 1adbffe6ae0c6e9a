// Callback hosts and URLs a caller names, the allow-list they are checked
// against, the addresses they resolve to, and the SMTP server names of a
// request: nothing a caller writes gets past the checks malformed.
#include <netinet/in.h>
#include <sys/socket.h>

#include <fuzzer/FuzzedDataProvider.h>
#include <cstdint>
#include <cstring>
#include <string>

#include "components/allowed_hosts.h"
#include "components/callback_address.h"
#include "components/callback_target.h"
#include "gateways/mail/smtp_server_url.h"

namespace {

void JudgeAddress(FuzzedDataProvider& input) {
  sockaddr_storage storage{};
  auto* raw = reinterpret_cast<sockaddr*>(&storage);
  if (input.ConsumeBool()) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
    v6->sin6_family = AF_INET6;
    input.ConsumeData(&v6->sin6_addr, sizeof v6->sin6_addr);
  } else {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
    v4->sin_family = input.ConsumeBool() ? AF_INET : AF_UNIX;
    input.ConsumeData(&v4->sin_addr, sizeof v4->sin_addr);
  }
  const auto why = qz::AddressRefusal(*raw);
  if (raw->sa_family == AF_UNIX && !why) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  JudgeAddress(input);
  const std::string list = input.ConsumeRandomLengthString(64);
  const std::string named = input.ConsumeRemainingBytesAsString();

  if (auto target = qz::ParseCallbackTarget(named)) {
    if (target->host.empty() ||
        (target->url.rfind("http://", 0) != 0 && target->url.rfind("https://", 0) != 0))
      __builtin_trap();
    for (unsigned char c : target->url)
      if (c <= ' ' || c == 0x7f) __builtin_trap();
    qz::HostAllowed(list, target->host);
    // A host always allows itself, and an empty list allows nothing.
    if (target->host.find(',') == std::string::npos && !qz::HostAllowed(target->host, target->host))
      __builtin_trap();
    if (qz::HostAllowed("", target->host)) __builtin_trap();
  }
  (void)qz::ParseSmtpServer(named);
  return 0;
}
