// qznotes-snpp-sim run by a test: it listens on a free loopback port,
// behaves as the script says, and is stopped when the holder goes. Its
// record is read back as events. Used from the test's own thread.
#pragma once

#include <algorithm>
#include <chrono>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "support/child_process.h"
#include "support/temp_folder.h"

namespace qz::testing {

// One line of the simulator's record.
struct SimEvent {
  int connection = 0;
  std::string kind;  // open, recv, recv-lf, partial, sent, reset, close
  std::string text;  // escaped as the simulator writes it
  double ms = 0;     // since the connection was accepted; Unix time with --unix-times
};

class SnppSim {
 public:
  // `extra`: further options, such as "--fail-first", "3".
  explicit SnppSim(const std::string& script = "", const std::string& listen = "127.0.0.1",
                   const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{QZ_SNPP_SIM_PATH, "--port", "0", "--listen", listen};
    args.insert(args.end(), {"--record", folder_.File("record"), "--port-file",
                             folder_.File("port"), "--exit-after", "600"});
    args.insert(args.end(), {"--script", folder_.Write("script", script)});
    args.insert(args.end(), extra.begin(), extra.end());
    process_.emplace(std::move(args), folder_ / "output");
    port_ = WaitForPortFile(folder_ / "port", *process_, std::chrono::seconds(10));
    if (port_ == 0) throw std::runtime_error("the SNPP simulator did not start");
  }

  int port() const { return port_; }
  std::string PortText() const { return std::to_string(port_); }

  std::vector<SimEvent> Events() const {
    std::vector<SimEvent> events;
    std::istringstream lines(folder_.Read("record"));
    for (std::string line; std::getline(lines, line);) {
      SimEvent& e = events.emplace_back();
      std::istringstream fields(line);
      fields >> e.connection >> e.ms >> e.kind;
      fields.get();  // the tab before the text
      std::getline(fields, e.text);
    }
    return events;
  }

  // The lines received, in order, as "<connection> <text>" joined by "; ".
  std::string Received() const {
    std::string lines;
    for (const auto& e : Events())
      if (e.kind == "recv" || e.kind == "recv-lf" || e.kind == "partial")
        lines += (lines.empty() ? "" : "; ") + std::to_string(e.connection) +
                 (e.kind == "recv" ? " " : " (" + e.kind + ") ") + e.text;
    return lines;
  }

  // The lines received that start with `prefix`.
  std::multiset<std::string> Lines(std::string_view prefix) const {
    std::multiset<std::string> lines;
    for (const auto& e : Events())
      if (e.kind == "recv" && e.text.starts_with(prefix)) lines.insert(e.text);
    return lines;
  }
  // How many events of `kind` the record holds ("open", "close", ...).
  size_t Count(std::string_view kind) const {
    const auto events = Events();
    return size_t(std::count_if(events.begin(), events.end(),
                                [&](const SimEvent& e) { return e.kind == kind; }));
  }
  // Waits (bounded) until the record holds `count` events of `kind`.
  bool WaitFor(const std::string& kind, size_t count, std::chrono::milliseconds limit) const {
    return Eventually([&] { return Count(kind) >= count; }, limit);
  }

 private:
  TempFolder folder_;
  std::optional<ChildProcess> process_;
  int port_ = 0;
};

}  // namespace qz::testing
