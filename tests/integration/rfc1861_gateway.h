// Net::SNPP::Server (Debian libnet-snpp-perl) run by a test on a free
// loopback port through rfc1861_gateway.pl, and stopped when the holder
// goes. Its record lists the commands it processed and the pages it took.
// Used from the test's own thread.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_folder.h"

extern char** environ;

namespace qz::testing {

// Net::SNPP::Server behind rfc1861_gateway.pl.
class PerlGateway {
 public:
  PerlGateway() {
    std::string script = std::string(QZ_SOURCE_DIR) + "/tests/integration/rfc1861_gateway.pl";
    std::vector<std::string> args = {"/usr/bin/perl", script, folder_.File("port"),
                                     folder_.File("record"), "300"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    for (int i = 0; pid_ > 0 && i < 1000 && port_ == 0; ++i) {
      std::ifstream in(folder_.File("port"));
      if (!(in >> port_)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~PerlGateway() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  int port() const { return port_; }
  // Lines of the record that start with `prefix`, waiting (bounded) for `count` "END" lines.
  std::vector<std::string> Lines(const std::string& prefix, int ends = 1) const {
    std::vector<std::string> found;
    for (int i = 0; i < 500; ++i) {
      found.clear();
      int seen = 0;
      std::istringstream lines(folder_.Read("record"));
      for (std::string line; std::getline(lines, line);) {
        seen += line == "END";
        if (line.rfind(prefix, 0) == 0) found.push_back(line);
      }
      if (seen >= ends) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return found;
  }

 private:
  TempFolder folder_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace qz::testing
