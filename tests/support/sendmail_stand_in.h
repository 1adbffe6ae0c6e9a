// A stand-in "sendmail" for one test: a shell script in a scratch folder put
// first on PATH, which keeps each mail it reads from standard input after a
// line with its arguments, and fails with status 75 once Fail() (or
// FailAtLength()) was called.
// The previous PATH comes back with the destructor. Use from one thread.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/mime_decode.h"
#include "support/temp_folder.h"

namespace qz::testing {

class SendmailStandIn {
 public:
  SendmailStandIn() : saved_path_(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin") {
    folder_.Write("sendmail", "#!/bin/sh\ncd '" + folder_.path() + R"(' || exit 1
n=$(ls | grep -c '\.mail$')
if [ -e fail ]; then echo 'queue is full' >&2; exit 75; fi
if [ -e flood ]; then yes 'queue is full' | head -c 67108864 >&2 || : > held-back; exit 75; fi
{ echo "$@"; cat; } > $n.part && mv $n.part $n.mail
)");
    ::chmod(folder_.File("sendmail").c_str(), 0755);
    ::setenv("PATH", (folder_.path() + ":" + saved_path_).c_str(), 1);
  }
  ~SendmailStandIn() { ::setenv("PATH", saved_path_.c_str(), 1); }
  SendmailStandIn(const SendmailStandIn&) = delete;
  SendmailStandIn& operator=(const SendmailStandIn&) = delete;

  void Fail() { folder_.Write("fail", ""); }
  // Fails as Fail() does, after trying to say so 64 MiB long; HeldBack()
  // tells whether it could not.
  void FailAtLength() { folder_.Write("flood", ""); }
  bool HeldBack() const { return std::filesystem::exists(folder_ / "held-back"); }

  // The arguments line and the mail of each hand-over so far, in order.
  std::vector<std::string> Mails() const {
    std::vector<std::string> mails;
    for (int n = 0; std::filesystem::exists(folder_ / (std::to_string(n) + ".mail")); ++n)
      mails.push_back(folder_.Read(std::to_string(n) + ".mail"));
    return mails;
  }

 private:
  TempFolder folder_;
  std::string saved_path_;
};

}  // namespace qz::testing
