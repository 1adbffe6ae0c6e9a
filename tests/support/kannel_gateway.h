// A real SMS gateway on loopback: Kannel's bearerbox and smsbox with the
// fake SMS centre fakesmsc, on free ports with a generated configuration,
// in a scratch folder; stopped by the destructor. Use from one thread.
#pragma once

#include <chrono>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/holders.h"
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

 private:
  void Start() {
    using namespace std::chrono_literals;
    for (uint16_t* port : {&admin_, &box_, &smsc_, &sendsms_}) *port = FreeLoopbackPort();
    const std::string conf = folder_.Write("kannel.conf", Configuration());
    const auto box = [&](const char* program, const char* output) {
      return std::make_unique<ChildProcess>(std::vector<std::string>{program, "-v", "1", conf},
                                            folder_ / output);
    };
    bearerbox_ = box("/usr/sbin/bearerbox", "bearerbox.out");
    if (!WaitListening(admin_, 30s) || !WaitListening(smsc_, 30s) || !bearerbox_->Running())
      throw std::runtime_error("bearerbox did not start: " + bearerbox_->Output());
    // -m 0: the fake centre sends nothing itself, it only receives.
    fakesmsc_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/lib/kannel/test/fakesmsc", "-H", "127.0.0.1", "-r",
                                 std::to_string(smsc_), "-m", "0", "0 0 text nop"},
        folder_ / "fakesmsc.out");
    smsbox_ = box("/usr/sbin/smsbox", "smsbox.out");
    if (!WaitListening(sendsms_, 30s) || !smsbox_->Running())
      throw std::runtime_error("smsbox did not start: " + smsbox_->Output());
    // Messages queue in the bearerbox until both boxes are there, and a
    // centre is routed to only once the bearerbox reports it online (before
    // that sendsms answers "Queued for later delivery"). Waiting here keeps
    // the tests' own limits about delivery alone.
    if (!bearerbox_->WaitForOutput("Fakesmsc client connected", 30s) ||
        !bearerbox_->WaitForOutput("Client connected from", 30s))
      throw std::runtime_error("kannel boxes did not connect: " + bearerbox_->Output());
    const auto give_up = std::chrono::steady_clock::now() + 30s;
    while (AdminStatus().find("(online") == std::string::npos)
      if (std::chrono::steady_clock::now() > give_up)
        throw std::runtime_error("the fake centre is not online: " + AdminStatus());
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  std::string AdminStatus() const {
    const std::string url =
        "http://127.0.0.1:" + std::to_string(admin_) + "/status.txt?password=admin";
    std::string body;
    CurlPtr easy(curl_easy_init());
    if (!easy) return body;
    curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy.get(), CURLOPT_TIMEOUT, 5L);
    curl_easy_setopt(easy.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy.get(), CURLOPT_PROXY, "");
    curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(
        easy.get(), CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t n, void* out) {
          static_cast<std::string*>(out)->append(data, size * n);
          return size * n;
        });
    curl_easy_perform(easy.get());
    return body;
  }

  void Stop() {
    // Boxes first, so the bearerbox sees them leave.
    smsbox_.reset();
    fakesmsc_.reset();
    bearerbox_.reset();
  }

  // Kannel's configuration with the ports, the folder and the user filled in.
  std::string Configuration() const {
    std::string text = R"(group = core
admin-port = @admin
admin-interface = 127.0.0.1
admin-password = admin
smsbox-port = @box
smsbox-interface = 127.0.0.1
box-allow-ip = 127.0.0.1

group = smsc
smsc = fake
smsc-id = FAKE
host = 127.0.0.1
port = @smsc
connect-allow-ip = 127.0.0.1

group = smsbox
bearerbox-host = 127.0.0.1
bearerbox-port = @box
sendsms-port = @sendsms
sendsms-interface = 127.0.0.1

group = sendsms-user
username = @user
password = @password

group = sms-service
keyword = default
text = "No service"
)";
    const std::pair<std::regex, std::string> fills[] = {
        {std::regex("@admin"), std::to_string(admin_)},
        {std::regex("@box"), std::to_string(box_)},
        {std::regex("@smsc"), std::to_string(smsc_)},
        {std::regex("@sendsms"), std::to_string(sendsms_)},
        {std::regex("@user"), kUser},
        {std::regex("@password"), kPassword}};
    for (const auto& [token, value] : fills) text = std::regex_replace(text, token, value);
    return text;
  }

  TempFolder folder_;
  uint16_t admin_ = 0, box_ = 0, smsc_ = 0, sendsms_ = 0;
  std::unique_ptr<ChildProcess> bearerbox_, fakesmsc_, smsbox_;
};

}  // namespace qz::testing
