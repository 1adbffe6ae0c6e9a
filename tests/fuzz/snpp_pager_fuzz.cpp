// An SNPP server's replies to cPager, in the exact and the RFC 1861
// dialogues, arriving in pieces of any size over a real loopback socket.
#include <fuzzer/FuzzedDataProvider.h>
#include <cstdint>
#include <string>
#include <vector>

#include "gateways/snpp/c_pager.h"
#include "gateways/snpp/snpp_reply.h"
#include "gateways/snpp/strip_buffer.h"
#include "scripted_peer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static qz::fuzz::ScriptedServer server;
  FuzzedDataProvider input(data, size);
  const bool rfc1861 = input.ConsumeBool();
  const std::vector<std::string> replies = qz::fuzz::Pieces(input, 16, 512);

  for (const std::string& reply : replies) {
    qz::MatchExactReply(reply);
    if (auto code = qz::ReplyCode(reply); code && (*code < 0 || *code > 999)) __builtin_trap();
  }
  server.Serve(replies, [&] {
    qz::cPager pager;
    pager.HostName("127.0.0.1");
    pager.Port(std::to_string(server.port()));
    pager.Timeout("2");  // bounds a run whose replies never end the exchange
    pager.Protocol(rfc1861 ? qz::kSnppRfc1861 : "");
    if (pager.Connect()) pager.SendPage("5551234", "fuzz");
    qz::gstrStripBuffer(pager.StatusText());
  });
  return 0;
}
