// The scripted SMS web gateway (tools/gateway-sim) as a test peer: started on
// a free loopback port in a scratch folder, stopped by the destructor. Its
// request log is read back one JSON line per request. Use from one thread.
#pragma once

#include <chrono>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_folder.h"

namespace qz::testing {

class GatewaySim {
 public:
  GatewaySim() {
    process_.emplace(std::vector<std::string>{QZ_GATEWAY_SIM, "--port-file", folder_.File("port"),
                                              "--log", folder_.File("requests.log")},
                     folder_ / "output");
    port_ = WaitForPortFile(folder_ / "port", *process_, std::chrono::seconds(30));
    if (port_ == 0)
      throw std::runtime_error("gateway simulator did not start: " + process_->Output());
  }

  // host:port as the IPAddress setting writes it.
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  // One JSON object per request, in arrival order.
  std::vector<std::string> Requests() const {
    std::ifstream in(folder_.File("requests.log"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

 private:
  TempFolder folder_;
  std::optional<ChildProcess> process_;
  int port_ = 0;
};

}  // namespace qz::testing
