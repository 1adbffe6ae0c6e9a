// qznotesd serving HTTPS on 127.0.0.1 with a throwaway certificate, with
// bearer tokens made by `qznotes tokens add`, on a private bus of its own.
// Use from one thread.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "cli_runner.h"
#include "daemon_harness.h"

namespace qz::testing {

class HttpsDaemon {
 public:
  // `tokens`: each token's name and the rights it is given ("send,read");
  // `prepare` changes the sample settings before the start; `args` go to
  // the daemon besides those of its front door.
  explicit HttpsDaemon(const std::vector<std::pair<std::string, std::string>>& tokens,
                       const std::function<void(const ProgramFolder&)>& prepare = {},
                       std::vector<std::string> args = {}) {
    if (prepare) prepare(folder_);
    const CliResult made =
        CliProcess({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                    "-nodes", "-days", "1", "-subj", "/CN=localhost", "-addext",
                    "subjectAltName=IP:127.0.0.1", "-keyout", key(), "-out", cert()},
                   std::nullopt, "/usr/bin/openssl")
            .Wait(std::chrono::seconds(60));
    EXPECT_EQ(made.status, 0) << made.Describe();
    for (const auto& [name, rights] : tokens) {
      const CliResult added =
          RunCli({"tokens", "add", name, "--rights", rights, "--folder", folder_.path()});
      EXPECT_EQ(added.status, 0) << added.Describe();
      tokens_[name] = added.out.substr(0, added.out.find('\n'));
    }
    args.insert(args.end(), {"--listen", "127.0.0.1:0", "--tls-cert", cert(), "--tls-key", key(),
                             "--linger", "60"});
    daemon_.emplace(bus_, folder_.path(), std::move(args));
    EXPECT_TRUE(daemon_->Logged("http: serving https://127.0.0.1:", std::chrono::seconds(10)))
        << daemon_->Log();
    std::smatch url;
    const std::string log = daemon_->Log();
    if (std::regex_search(log, url, std::regex(R"(https://127\.0\.0\.1:\d+)"))) url_ = url.str();
  }

  // curl with the certificate trusted; `extra` are its own arguments.
  Fetched Get(const std::string& path, std::vector<std::string> extra = {},
              std::chrono::milliseconds limit = std::chrono::seconds(30)) const {
    extra.insert(extra.begin(), {"--cacert", cert()});
    return Curl(url_ + path, std::move(extra), limit);
  }
  const std::string& token(const std::string& name) const { return tokens_.at(name); }
  const std::string& url() const { return url_; }
  std::string cert() const { return scratch_.File("cert.pem"); }
  const TempFolder& scratch() const { return scratch_; }
  const PrivateBus& bus() const { return bus_; }
  std::filesystem::path folder() const { return folder_.path(); }
  std::string Log() const { return daemon_->Log(); }
  bool Logged(std::string_view text, std::chrono::milliseconds limit) const {
    return daemon_->Logged(text, limit);
  }

 private:
  std::string key() const { return scratch_.File("key.pem"); }

  TempFolder scratch_;
  PrivateBus bus_;
  ProgramFolder folder_;
  std::optional<Daemon> daemon_;
  std::map<std::string, std::string> tokens_;
  std::string url_;
};

}  // namespace qz::testing
