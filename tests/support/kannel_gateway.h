// A real SMS gateway on loopback: Kannel's bearerbox and smsbox with the
// fake SMS centre fakesmsc, on free ports with a generated configuration,
// in a scratch folder; stopped by the destructor. Use from one thread.
#pragma once

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/child_process.h"
#include "support/temp_folder.h"

namespace qz::testing {

class KannelGateway {
 public:
  static constexpr const char* kUser = "qznotes";
  static constexpr const char* kPassword = "s3cret";

  // Ports are picked free just before the start; another program may take
  // one in between, so a start that fails is tried again on new ports.
  KannelGateway() {
    for (int attempt = 1;; ++attempt) {
      try {
        for (uint16_t* port : {&admin_, &box_, &smsc_, &sendsms_}) *port = FreeLoopbackPort();
        Start();
        return;
      } catch (const std::exception&) {
        Stop();
        if (attempt == 3) throw;
      }
    }
  }
  ~KannelGateway() { Stop(); }
  KannelGateway(const KannelGateway&) = delete;
  KannelGateway& operator=(const KannelGateway&) = delete;

  // host:port of the sendsms interface; its path is "/cgi-bin/sendsms".
  std::string sendsms_address() const { return "127.0.0.1:" + std::to_string(sendsms_); }

  // The messages the fake centre got since the last start, as "<from> <to> text <text>".
  std::vector<std::string> Received() const {
    static const std::regex got("Got message [0-9]+: <(.*)>");
    std::vector<std::string> found;
    const std::string output = folder_.Read("fakesmsc.out");
    for (std::sregex_iterator m(output.begin(), output.end(), got), end; m != end; ++m)
      found.push_back((*m)[1]);
    return found;
  }

  // Down and up again on the same ports, as a gateway that was restarted.
  void Stop() {
    // Boxes first, so the bearerbox sees them leave.
    smsbox_.reset();
    fakesmsc_.reset();
    bearerbox_.reset();
  }
  void Start() {
    using namespace std::chrono_literals;
    const std::string conf = folder_.Write("kannel.conf", Configuration());
    const auto start = [&](std::vector<std::string> args, const char* output) {
      return std::make_unique<ChildProcess>(std::move(args), folder_ / output);
    };
    bearerbox_ = start({"/usr/sbin/bearerbox", "-v", "1", conf}, "bearerbox.out");
    if (!WaitListening(admin_, 30s) || !WaitListening(smsc_, 30s) || !bearerbox_->Running())
      throw std::runtime_error("bearerbox did not start: " + bearerbox_->Output());
    // -m 0: the fake centre sends nothing itself, it only receives.
    fakesmsc_ = start({"/usr/lib/kannel/test/fakesmsc", "-H", "127.0.0.1", "-r",
                       std::to_string(smsc_), "-m", "0", "0 0 text nop"},
                      "fakesmsc.out");
    smsbox_ = start({"/usr/sbin/smsbox", "-v", "1", conf}, "smsbox.out");
    if (!WaitListening(sendsms_, 30s) || !smsbox_->Running())
      throw std::runtime_error("smsbox did not start: " + smsbox_->Output());
    // Messages queue in the bearerbox until both boxes are there, and a
    // centre is routed to only once the bearerbox reports it online (before
    // that sendsms answers "Queued for later delivery"). Waiting here keeps
    // the tests' own limits about delivery alone.
    const std::string status =
        "http://127.0.0.1:" + std::to_string(admin_) + "/status.txt?password=admin";
    for (int i = 0; i < 300; ++i) {
      auto curl = start({"/usr/bin/curl", "-s", "-m", "5", "--noproxy", "*", status}, "status");
      while (curl->Running()) std::this_thread::sleep_for(10ms);
      if (curl->Output().find("(online") != std::string::npos) return;
      std::this_thread::sleep_for(100ms);
    }
    throw std::runtime_error("the fake centre is not online: " + bearerbox_->Output());
  }

 private:
  // Kannel's configuration with the ports and the user filled in.
  std::string Configuration() const {
    const auto port = [](uint16_t p) { return std::to_string(p) + "\n"; };
    return "group = core\nadmin-port = " + port(admin_) +
           "admin-interface = 127.0.0.1\nadmin-password = admin\nsmsbox-port = " + port(box_) +
           "smsbox-interface = 127.0.0.1\n\ngroup = smsc\nsmsc = fake\nhost = 127.0.0.1\nport = " +
           port(smsc_) +
           "\ngroup = smsbox\nbearerbox-host = 127.0.0.1\nbearerbox-port = " + port(box_) +
           "sendsms-port = " + port(sendsms_) +
           "sendsms-interface = 127.0.0.1\n\ngroup = sendsms-user\nusername = " + kUser +
           "\npassword = " + kPassword + "\n";
  }

  TempFolder folder_;
  uint16_t admin_ = 0, box_ = 0, smsc_ = 0, sendsms_ = 0;
  std::unique_ptr<ChildProcess> bearerbox_, fakesmsc_, smsbox_;
};

}  // namespace qz::testing
