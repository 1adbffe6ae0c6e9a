// The Alertmanager routes of QzRoutes.ini in the program folder, one section
// per route: who gets the page and the mail, and how they read. The file
// is read again when it changes (a new size, time or inode), so an edit
// takes effect with the next webhook and no restart. Safe from any thread.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

inline constexpr std::string_view kAlertRoutesFileName = "QzRoutes.ini";
inline constexpr std::chrono::seconds kDefaultRepeatWindow{60};

struct AlertRoute {
  std::vector<std::string> emails;                            // Emails=a@example.org, b@example.org
  std::vector<std::string> pagers;                            // Pagers=1001, 1002
  std::string subject;                                        // template; mail goes only with one
  std::string text;                                           // template of each alert's message
  std::chrono::seconds repeat_window = kDefaultRepeatWindow;  // 0: no repeat check
  // How mail leaves, as a request names it: an SMTP server and sender, or
  // a mail profile.
  std::string smtp_server;
  std::string mail_from;
  std::string profile;
};

class AlertRoutes {
 public:
  explicit AlertRoutes(std::string path) : path_(std::move(path)) {}

  // The route of that section (names compare without regard to case);
  // nullopt when the file or the section does not exist.
  std::optional<AlertRoute> Find(std::string_view name);

 private:
  struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    timespec changed{};
    bool operator==(const FileStamp& other) const;
  };

  std::string path_;
  std::mutex mutex_;
  FileStamp stamp_;  // of the text held; size -1: no file
  std::string text_;
};

}  // namespace qz
