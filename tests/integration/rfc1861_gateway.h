// Net::SNPP::Server (Debian libnet-snpp-perl) run by a test on a free
// loopback port through rfc1861_gateway.pl, and stopped when the holder
// goes. Its record lists the commands it processed and the pages it took.
// Used from the test's own thread.
#pragma once

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_folder.h"

namespace qz::testing {

// Net::SNPP::Server behind rfc1861_gateway.pl.
class PerlGateway {
 public:
  // `port`: listen there (a gateway started again after a stop); 0: a free port.
  explicit PerlGateway(int port = 0)
      : process_(
            {"/usr/bin/perl", std::string(QZ_SOURCE_DIR) + "/tests/integration/rfc1861_gateway.pl",
             folder_.File("port"), folder_.File("record"), "300", std::to_string(port)},
            folder_ / "output"),
        port_(WaitForPortFile(folder_ / "port", process_, std::chrono::seconds(20))) {}
  int port() const { return port_; }
  // Lines of the record that start with `prefix`, waiting (bounded) for `ends` "END" lines.
  std::vector<std::string> Lines(const std::string& prefix, int ends = 1) const {
    std::vector<std::string> found;
    Eventually(
        [&] {
          found.clear();
          int seen = 0;
          std::istringstream lines(folder_.Read("record"));
          for (std::string line; std::getline(lines, line);) {
            seen += line == "END";
            if (line.starts_with(prefix)) found.push_back(line);
          }
          return seen >= ends;
        },
        std::chrono::seconds(10));
    return found;
  }

 private:
  TempFolder folder_;
  ChildProcess process_;
  int port_ = 0;
};

}  // namespace qz::testing
