// TAP framing on both sides of the line: the blocks the component cuts a
// page into check out and carry the page whole, and the terminal simulator
// takes any bytes, and the component's own blocks, without losing its way.
#include <fuzzer/FuzzedDataProvider.h>
#include <cstdint>
#include <string>
#include <vector>

#include "gateways/terminal/tap_frame.h"
#include "tap_sim/terminal_sim.h"

namespace {

using namespace qz::tap;

// Each block is STX, data, an end character and its checksum, then CR;
// together the data is both fields, each escaped and closed by CR.
void CheckBlocks(const std::vector<std::string>& blocks, std::string_view id, std::string_view text,
                 size_t data_chars) {
  std::string joined;
  for (const std::string& block : blocks) {
    if (block.size() < 6 || block.front() != kStx || block.back() != kCr) __builtin_trap();
    const std::string_view framed = std::string_view(block).substr(0, block.size() - 4);
    if (Checksum(framed) != block.substr(block.size() - 4, 3)) __builtin_trap();
    if (framed.size() - 2 > data_chars) __builtin_trap();
    joined.append(framed.substr(1, framed.size() - 2));
  }
  if (joined != EscapeField(id) + kCr + EscapeField(text) + kCr) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string id = input.ConsumeRandomLengthString(32);
  const std::string text = input.ConsumeRandomLengthString(600);
  const size_t data_chars = input.ConsumeIntegralInRange<size_t>(2, kBlockDataChars);
  const std::string line = input.ConsumeRemainingBytesAsString();

  const std::vector<std::string> blocks = TransactionBlocks(id, text, data_chars);
  CheckBlocks(blocks, id, text, data_chars);
  for (const std::string_view field : {std::string_view(id), std::string_view(text)}) {
    const std::string escaped = EscapeField(field);
    if (UnescapeField(EscapeField(UnescapeField(escaped))) != UnescapeField(escaped))
      __builtin_trap();
  }

  // The simulator: first whatever the line brings, then a call as the
  // component makes it, which must deliver the page as the blocks carry it.
  std::vector<std::pair<std::string, std::string>> pages;
  qz::tapsim::TerminalSim terminal(
      {}, [&](const std::string& i, const std::string& t) { pages.emplace_back(i, t); });
  terminal.Feed(line);
  terminal.Output().clear();
  qz::tapsim::TerminalSim fresh(
      {}, [&](const std::string& i, const std::string& t) { pages.emplace_back(i, t); });
  pages.clear();
  fresh.Feed(std::string(1, kCr) + kEsc + "PG1000000" + kCr);
  for (const std::string& block : blocks) fresh.Feed(block);
  if (pages.size() != 1 || pages[0].first != UnescapeField(EscapeField(id)) ||
      pages[0].second != UnescapeField(EscapeField(text)))
    __builtin_trap();
  return 0;
}
