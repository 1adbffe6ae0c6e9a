// A real SMS gateway on loopback: Kannel's bearerbox and smsbox with the
// fake SMS centre fakesmsc, on free ports with a generated configuration,
// in a scratch folder; stopped by the destructor. The messages the fake SMS
// centre received are read back from its output. Use from one thread.
#pragma once

#include <chrono>
#include <fstream>
#include <memory>
#include <ostream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/holders.h"
#include "support/child_process.h"
#include "support/temp_folder.h"

namespace qz::testing {

inline constexpr const char* kBearerbox = "/usr/sbin/bearerbox";
inline constexpr const char* kSmsbox = "/usr/sbin/smsbox";
inline constexpr const char* kFakeSmsc = "/usr/lib/kannel/test/fakesmsc";

// One message as the fake SMS centre printed it.
struct SmscMessage {
  std::string from, to, text;
  bool operator==(const SmscMessage&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const SmscMessage& m) {
    return out << "<" << m.from << " " << m.to << " " << m.text << ">";
  }
};

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

  std::vector<SmscMessage> Received() const {
    static const std::regex line(R"(Got message \d+: <(\S*) (\S*) text ([^>]*)>)");
    std::vector<SmscMessage> messages;
    const std::string out = fakesmsc_->Output();
    for (std::sregex_iterator m(out.begin(), out.end(), line), end; m != end; ++m)
      messages.push_back({(*m)[1], (*m)[2], (*m)[3]});
    return messages;
  }

  // Waits (bounded) until at least `count` messages arrived.
  std::vector<SmscMessage> WaitForMessages(
      size_t count, std::chrono::milliseconds limit = std::chrono::seconds(60)) const {
    const auto give_up = std::chrono::steady_clock::now() + limit;
    std::vector<SmscMessage> messages = Received();
    while (messages.size() < count && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      messages = Received();
    }
    return messages;
  }

 private:
  void Start() {
    using namespace std::chrono_literals;
    admin_ = FreeLoopbackPort();
    box_ = FreeLoopbackPort();
    smsc_ = FreeLoopbackPort();
    sendsms_ = FreeLoopbackPort();
    std::ofstream(folder_.File("kannel.conf"), std::ios::trunc) << Configuration();
    bearerbox_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{kBearerbox, "-v", "1", folder_.File("kannel.conf")},
        folder_ / "bearerbox.out");
    if (!WaitListening(admin_, 30s) || !WaitListening(smsc_, 30s) || !bearerbox_->Running())
      throw std::runtime_error("bearerbox did not start: " + bearerbox_->Output());
    // -m 0: the fake centre sends nothing itself, it only receives.
    fakesmsc_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{kFakeSmsc, "-H", "127.0.0.1", "-r", std::to_string(smsc_), "-m",
                                 "0", "0 0 text nop"},
        folder_ / "fakesmsc.out");
    smsbox_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{kSmsbox, "-v", "1", folder_.File("kannel.conf")},
        folder_ / "smsbox.out");
    if (!WaitListening(sendsms_, 30s) || !smsbox_->Running())
      throw std::runtime_error("smsbox did not start: " + smsbox_->Output());
    // Messages queue in the bearerbox until both boxes are there; waiting
    // here keeps the tests' own limits about delivery alone.
    if (!bearerbox_->WaitForOutput("Fakesmsc client connected", 30s) ||
        !bearerbox_->WaitForOutput("Client connected from", 30s) || !WaitSmscOnline(30s))
      throw std::runtime_error("kannel boxes did not connect: " + bearerbox_->Output());
  }

  // A connected centre is routed to only once the bearerbox reports it
  // online; before that sendsms answers "Queued for later delivery".
  bool WaitSmscOnline(std::chrono::seconds limit) const {
    const std::string url =
        "http://127.0.0.1:" + std::to_string(admin_) + "/status.txt?password=admin";
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (AdminStatus(url).find("(online") != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  static std::string AdminStatus(const std::string& url) {
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

  std::string Configuration() const {
    const std::string log = folder_.path();
    return "group = core\n"
           "admin-port = " +
           std::to_string(admin_) +
           "\n"
           "admin-interface = 127.0.0.1\n"
           "admin-password = admin\n"
           "smsbox-port = " +
           std::to_string(box_) +
           "\n"
           "smsbox-interface = 127.0.0.1\n"
           "box-allow-ip = 127.0.0.1\n"
           "log-level = 1\n"
           "log-file = \"" +
           log +
           "/bearerbox.log\"\n"
           "\n"
           "group = smsc\n"
           "smsc = fake\n"
           "smsc-id = FAKE\n"
           "host = 127.0.0.1\n"
           "port = " +
           std::to_string(smsc_) +
           "\n"
           "connect-allow-ip = 127.0.0.1\n"
           "\n"
           "group = smsbox\n"
           "bearerbox-host = 127.0.0.1\n"
           "bearerbox-port = " +
           std::to_string(box_) +
           "\n"
           "sendsms-port = " +
           std::to_string(sendsms_) +
           "\n"
           "sendsms-interface = 127.0.0.1\n"
           "log-level = 1\n"
           "log-file = \"" +
           log +
           "/smsbox.log\"\n"
           "\n"
           "group = sendsms-user\n"
           "username = " +
           kUser +
           "\n"
           "password = " +
           kPassword +
           "\n"
           "\n"
           "group = sms-service\n"
           "keyword = default\n"
           "text = \"No service\"\n";
  }

  TempFolder folder_;
  uint16_t admin_ = 0, box_ = 0, smsc_ = 0, sendsms_ = 0;
  std::unique_ptr<ChildProcess> bearerbox_, fakesmsc_, smsbox_;
};

}  // namespace qz::testing
