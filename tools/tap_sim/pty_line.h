// The simulator's end of the line: a pseudo-terminal pair whose device end
// is linked at the path the component's ComPort names, carrying bytes at
// the simulated line speed. Owned by the simulator's one thread.
#pragma once

#include <chrono>
#include <csignal>
#include <string>

#include "platform/unique_fd.h"
#include "terminal_sim.h"

namespace qz::tapsim {

class PtyLine {
 public:
  // Opens the pair and links its device at `link` (replacing an old link,
  // never a file). Throws std::runtime_error with the reason.
  PtyLine(std::string link, unsigned baud);
  ~PtyLine();  // removes the link
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  // Passes bytes between the line and `terminal` until `stop` turns true.
  void Serve(TerminalSim& terminal, const volatile sig_atomic_t& stop);

  const std::string& device() const { return device_; }

 private:
  std::string link_;
  std::string device_;
  UniqueFd master_;
  UniqueFd slave_;  // held open so the line survives the component's close
  std::chrono::nanoseconds char_time_{0};
};

}  // namespace qz::tapsim
