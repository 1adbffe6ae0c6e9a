// A stand-in "sendmail" for one test: a shell script in a scratch folder put
// first on PATH, which records its arguments and the mail it reads from
// standard input, and fails with status 75 while Fail() is in effect. The
// previous PATH comes back with the destructor. Use from one thread.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/mime_decode.h"
#include "support/temp_folder.h"

namespace qz::testing {

class SendmailStandIn {
 public:
  SendmailStandIn() {
    const char* path = std::getenv("PATH");
    saved_path_ = path ? path : "/usr/bin:/bin";
    const std::string dir = folder_.path();
    folder_.Write("sendmail", "#!/bin/sh\ncd '" + dir + R"(' || exit 1
n=$(ls | grep -c '\.mail$')
if [ -e fail ]; then echo 'queue is full' >&2; exit 75; fi
echo "$@" > $n.args
cat > $n.part && mv $n.part $n.mail
)");
    ::chmod(folder_.File("sendmail").c_str(), 0755);
    ::setenv("PATH", (dir + ":" + saved_path_).c_str(), 1);
  }
  ~SendmailStandIn() { ::setenv("PATH", saved_path_.c_str(), 1); }
  SendmailStandIn(const SendmailStandIn&) = delete;
  SendmailStandIn& operator=(const SendmailStandIn&) = delete;

  void Fail() { folder_.Write("fail", ""); }

  // The mails handed over so far, in order, as read from standard input.
  std::vector<std::string> Mails() const {
    std::vector<std::string> mails;
    for (int n = 0; std::filesystem::exists(folder_ / (std::to_string(n) + ".mail")); ++n)
      mails.push_back(folder_.Read(std::to_string(n) + ".mail"));
    return mails;
  }
  std::string Arguments(int n) const { return folder_.Read(std::to_string(n) + ".args"); }

 private:
  TempFolder folder_;
  std::string saved_path_;
};

}  // namespace qz::testing
