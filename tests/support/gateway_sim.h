// The scripted SMS web gateway (tools/gateway-sim) as a test peer: started on
// a free loopback port in a scratch folder, stopped by the destructor. Its
// request log is read back one JSON line per request. Use from one thread.
#pragma once

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_folder.h"

namespace qz::testing {

struct GatewaySimOptions {
  bool tls = false;
  double delay_seconds = 60;       // of a /slow answer
  std::string answer;              // empty: the simulator's default
  std::string host = "127.0.0.1";  // or "::1"
};

class GatewaySim {
 public:
  explicit GatewaySim(GatewaySimOptions options = {}) {
    std::vector<std::string> args = {QZ_GATEWAY_SIM,
                                     "--port-file",
                                     folder_.File("port"),
                                     "--log",
                                     folder_.File("requests.log"),
                                     "--delay",
                                     std::to_string(options.delay_seconds),
                                     "--lifetime",
                                     "900"};
    args.insert(args.end(), {"--host", options.host});
    if (options.tls) args.insert(args.end(), {"--tls-dir", folder_.path()});
    if (!options.answer.empty()) args.insert(args.end(), {"--answer", options.answer});
    process_ = std::make_unique<ChildProcess>(std::move(args), folder_ / "output");
    if (!process_->WaitForOutput("listening on", std::chrono::seconds(30)))
      throw std::runtime_error("gateway simulator did not start: " + process_->Output());
    port_ = static_cast<uint16_t>(std::stoi(folder_.Read("port")));
    host_ = options.host;
  }

  uint16_t port() const { return port_; }
  // host:port as the IPAddress setting writes it (IPv6 in brackets).
  std::string address() const {
    return (host_.find(':') != std::string::npos ? "[" + host_ + "]" : host_) + ":" +
           std::to_string(port_);
  }
  std::string certificate() const { return folder_.File("cert.pem"); }
  // One JSON object per request, in arrival order.
  std::vector<std::string> Requests() const {
    std::ifstream in(folder_.File("requests.log"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

 private:
  TempFolder folder_;
  std::unique_ptr<ChildProcess> process_;
  uint16_t port_ = 0;
  std::string host_;
};

}  // namespace qz::testing
