// What a modem and a paging terminal say on the serial line, any bytes in
// any pieces, to the component's Hayes dialogue, TAP session and prompt
// dialogue, over a real pseudo-terminal the fuzzer plays the far end of.
#include <fcntl.h>
#include <stdlib.h>

#include <fuzzer/FuzzedDataProvider.h>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "automation/run_time_error.h"
#include "gateways/terminal/hayes_modem.h"
#include "gateways/terminal/serial_line.h"
#include "gateways/terminal/tap_session.h"
#include "gateways/terminal/terminal_link.h"
#include "scripted_peer.h"

namespace {

using namespace qz::tap;

enum class Dialogue { kHayes, kTap, kPrompt };

void Converse(Dialogue dialogue, TerminalLink& link) {
  const std::chrono::seconds page_limit(2);
  if (dialogue == Dialogue::kHayes) {
    HayesModem modem(link);
    modem.Dial("5551234");  // hanging up only waits out guard times: not a parser
    return;
  }
  TapSession tap(link, "000000", page_limit);
  PromptSession prompt(link, "NBR?", "NOTE?", page_limit);
  TerminalDialogue& session =
      dialogue == Dialogue::kTap ? static_cast<TerminalDialogue&>(tap) : prompt;
  session.LogOn();
  for (int page = 0; page < 2; ++page) {
    PageAnswer answer = session.Page("12345", "fuzz page");
    if (answer.refused && answer.accepted) __builtin_trap();
  }
  session.LogOff();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const auto dialogue = static_cast<Dialogue>(input.ConsumeIntegralInRange<int>(0, 2));
  const bool echo = input.ConsumeBool();
  const std::vector<std::string> said = qz::fuzz::Pieces(input, 16, 300);
  for (const std::string& text : said) DialFailureText(text, "5551234");

  qz::UniqueFd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!master || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) __builtin_trap();
  const std::string device = ::ptsname(master.get());
  std::jthread terminal([&] {
    qz::fuzz::PlayChunks(master.get(), said);
    master.Reset();  // hangs up: the component's next wait ends at once
  });
  try {
    SerialLine line = SerialLine::Open(device, LineSettings{}, HandShaking::kNone,
                                       Clock::now() + std::chrono::seconds(1));
    TerminalLink link(line, echo);
    Converse(dialogue, link);
  } catch (const qz::RunTimeError&) {
    // The call cannot go on: silence, a hang-up, a refusal. That is an answer.
  }
  return 0;
}
