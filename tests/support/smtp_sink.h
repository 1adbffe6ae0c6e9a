// The loopback SMTP sink (smtp_sink.py, on aiosmtpd) for one test: started on
// a free port, its stored messages read back, stopped and reaped by the
// destructor. Use from one thread.
#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/mime_decode.h"
#include "support/temp_folder.h"

namespace qz::testing {

// Debian's interpreter, where python3-aiosmtpd is installed.
inline constexpr const char* kSinkPython = "/usr/bin/python3";

struct SinkOptions {
  std::vector<std::string> refuse_rcpt = {};
  std::vector<std::string> refuse_from = {};
  bool refuse_data = false;
  bool drop_in_data = false;
  bool drop_after_data = false;
  bool silent = false;
  bool starttls = false;
  bool tls_on_connect = false;
  bool store = true;
  std::string host = "127.0.0.1";
};

struct SunkMail {
  bool tls = false;
  std::string from;
  std::vector<std::string> to;
  std::string data;  // raw, as received after the DATA command

  // The value of the first header `name` (unfolded), empty when absent.
  std::string Header(std::string_view name) const { return MailHeader(data, name); }
  std::string Body() const {
    const size_t end = data.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : data.substr(end + 4);
  }
};

class SmtpSink {
 public:
  explicit SmtpSink(SinkOptions options = {}) : host_(options.host) {
    const std::string script = std::string(QZ_SOURCE_DIR) + "/tests/support/smtp_sink.py";
    const std::string port_file = folder_.File("port");
    std::vector<std::string> args = {kSinkPython,  script,        "--host",
                                     options.host, "--port-file", port_file};
    if (options.store) args.insert(args.end(), {"--dir", MailFolder()});
    for (const auto& a : options.refuse_rcpt) args.insert(args.end(), {"--refuse-rcpt", a});
    for (const auto& a : options.refuse_from) args.insert(args.end(), {"--refuse-from", a});
    if (options.refuse_data) args.push_back("--refuse-data");
    if (options.drop_in_data) args.push_back("--drop-in-data");
    if (options.drop_after_data) args.push_back("--drop-after-data");
    if (options.silent) args.push_back("--silent");
    if (options.starttls) args.push_back("--starttls");
    if (options.tls_on_connect) args.push_back("--tls-on-connect");
    if (options.starttls || options.tls_on_connect)
      args.insert(args.end(), {"--cert-dir", folder_.path()});
    std::filesystem::create_directory(MailFolder());

    process_.emplace(std::move(args), folder_ / "sink.log");
    // Bounded: python start-up and, with TLS, making a key.
    for (int i = 0; i < 1500 && !std::filesystem::exists(port_file) && process_->Running(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::ifstream(port_file) >> port_;
    if (port_ == 0) {
      process_.reset();
      throw std::runtime_error("the SMTP sink did not start: " + folder_.Read("sink.log"));
    }
  }

  int port() const { return port_; }
  // host:port as a ServerName; IPv6 in brackets.
  std::string server() const {
    return (host_v6() ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
  }
  std::string ca_file() const { return folder_.File("cert.pem"); }
  std::string MailFolder() const { return folder_.File("mail"); }

  std::vector<SunkMail> Mails() const {
    std::vector<std::filesystem::path> envelopes;
    for (const auto& entry : std::filesystem::directory_iterator(MailFolder()))
      if (entry.path().extension() == ".envelope") envelopes.push_back(entry.path());
    std::sort(envelopes.begin(), envelopes.end());
    std::vector<SunkMail> mails;
    for (const auto& path : envelopes) {
      SunkMail mail;
      std::ifstream in(path);
      for (std::string line; std::getline(in, line);) {
        if (line.starts_with("tls ")) mail.tls = line == "tls yes";
        if (line.starts_with("from ")) mail.from = line.substr(5);
        if (line.starts_with("to ")) mail.to.push_back(line.substr(3));
      }
      std::filesystem::path eml = path;
      std::ifstream data(eml.replace_extension(".eml"), std::ios::binary);
      std::stringstream text;
      text << data.rdbuf();
      mail.data = text.str();
      mails.push_back(std::move(mail));
    }
    return mails;
  }

  // Mails stored so far, after waiting up to `limit` for `count` of them.
  std::vector<SunkMail> WaitForMails(size_t count, std::chrono::milliseconds limit) const {
    auto give_up = std::chrono::steady_clock::now() + limit;
    std::vector<SunkMail> mails = Mails();
    while (mails.size() < count && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      mails = Mails();
    }
    return mails;
  }

 private:
  bool host_v6() const { return host_.find(':') != std::string::npos; }

  TempFolder folder_;
  std::string host_;
  std::optional<ChildProcess> process_;
  int port_ = 0;
};

}  // namespace qz::testing
