// Hands one composed mail to the local "sendmail -t -i" (found on PATH),
// which takes the recipients from the To and Cc headers. Blocks the calling
// thread until sendmail ends or the time limit passes (then it is killed).
// Safe from any thread.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace qz {

inline constexpr std::chrono::milliseconds kSendmailLimit{60'000};

struct SendmailOutcome {
  bool accepted = false;
  std::string reply;  // on failure: why, with what sendmail wrote to stderr
};

SendmailOutcome RunSendmail(std::string_view data,
                            std::chrono::milliseconds limit = kSendmailLimit);

}  // namespace qz
