// The loopback SMTP sink (smtp_sink.py, on aiosmtpd) for one test: started on
// a free port of 127.0.0.1, its stored messages read back, stopped and reaped
// by the destructor. Use from one thread.
#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/mime_decode.h"
#include "support/temp_folder.h"

namespace qz::testing {

// What smtp_sink.py is to do besides storing mails: its flags ("--starttls",
// "--refuse-rcpt", ADDR, "--defer-data", N, "--refuse-data", "--drop-after-data", "--silent",
// "--stall-after-data": store, then never give the final reply).
struct SinkOptions {
  std::vector<std::string> flags = {};
  bool store = true;
};

struct SunkMail {
  bool tls = false;
  std::string from;
  std::vector<std::string> to;
  std::string data;  // raw, as received after the DATA command

  std::string Header(std::string_view name) const { return MailHeader(data, name); }
};

class SmtpSink {
 public:
  explicit SmtpSink(SinkOptions options = {}) {
    // Debian's interpreter, where python3-aiosmtpd is installed.
    std::vector<std::string> args = {
        "/usr/bin/python3", std::string(QZ_SOURCE_DIR) + "/tests/support/smtp_sink.py",
        "--port-file",      folder_.File("port"),
        "--cert-dir",       folder_.path()};
    args.insert(args.end(), options.flags.begin(), options.flags.end());
    if (options.store) args.insert(args.end(), {"--dir", folder_.File("mail")});
    std::filesystem::create_directory(folder_ / "mail");
    process_.emplace(std::move(args), folder_ / "sink.log");
    // Bounded: python start-up and, with TLS, making a key.
    port_ = WaitForPortFile(folder_ / "port", *process_, std::chrono::seconds(30));
    if (port_ == 0) {
      process_.reset();
      throw std::runtime_error("the SMTP sink did not start: " + folder_.Read("sink.log"));
    }
  }

  int port() const { return port_; }
  std::string server() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string ca_file() const { return folder_.File("cert.pem"); }

  // The mails stored, in order, once `count` are there or `limit` has passed.
  std::vector<SunkMail> WaitForMails(size_t count, std::chrono::milliseconds limit) const {
    std::vector<std::string> names;
    Eventually(
        [&] {
          names.clear();
          for (const auto& entry : std::filesystem::directory_iterator(folder_ / "mail"))
            if (entry.path().extension() == ".envelope") names.push_back(entry.path().stem());
          return names.size() >= count;
        },
        limit);
    std::sort(names.begin(), names.end());
    std::vector<SunkMail> mails;
    for (const std::string& name : names) {
      SunkMail& mail = mails.emplace_back();
      mail.data = folder_.Read("mail/" + name + ".eml");
      std::istringstream envelope(folder_.Read("mail/" + name + ".envelope"));
      for (std::string line; std::getline(envelope, line);) {
        if (line.starts_with("tls ")) mail.tls = line == "tls yes";
        if (line.starts_with("from ")) mail.from = line.substr(5);
        if (line.starts_with("to ")) mail.to.push_back(line.substr(3));
      }
    }
    return mails;
  }

 private:
  TempFolder folder_;
  std::optional<ChildProcess> process_;
  int port_ = 0;
};

}  // namespace qz::testing
