#include "http/alert_routes.h"

#include <charconv>

#include "platform/file_io.h"
#include "platform/ini_lookup.h"
#include "platform/ini_syntax.h"

namespace qz {
namespace {

// A repeat window longer than a day would hold back a real second outage.
constexpr long kMaxRepeatWindowSeconds = 86400;

bool HasIniSection(std::string_view text, std::string_view section) {
  if (text.starts_with(ini::kUtf8Bom)) text.remove_prefix(ini::kUtf8Bom.size());
  while (!text.empty()) {
    const ini::ParsedLine line = ini::ParseLine(ini::NextLine(text).text);
    if (line.kind == ini::LineKind::kSection && ini::FoldedCaseEqual(line.name, section))
      return true;
  }
  return false;
}

// Addresses and pager names never hold a comma; blanks around them go.
std::vector<std::string> RouteRecipients(std::string_view list) {
  std::vector<std::string> out;
  while (!list.empty()) {
    const size_t comma = list.find(',');
    const std::string_view entry = TrimBlanks(list.substr(0, comma));
    if (!entry.empty()) out.emplace_back(entry);
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return out;
}

std::chrono::seconds RouteRepeatWindow(std::string_view text) {
  text = TrimBlanks(text);
  long seconds = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (error != std::errc() || end != text.data() + text.size() || seconds < 0)
    return kDefaultRepeatWindow;
  return std::chrono::seconds(std::min(seconds, kMaxRepeatWindowSeconds));
}

}  // namespace

bool AlertRoutes::FileStamp::operator==(const FileStamp& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
         changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

std::optional<AlertRoute> AlertRoutes::Find(std::string_view name) {
  std::lock_guard lock(mutex_);
  FileStamp now;
  if (struct stat info{}; ::stat(path_.c_str(), &info) == 0)
    now = {info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
  if (!(now == stamp_)) {
    std::optional<std::string> text = now.size < 0 ? std::nullopt : ReadFileText(path_.c_str());
    text_ = text ? std::move(*text) : std::string();
    stamp_ = text ? now : FileStamp{};
  }
  if (!HasIniSection(text_, name)) return std::nullopt;
  auto value = [&](std::string_view key) {
    return std::string(ini::FindValue(text_, name, key).value_or(""));
  };
  AlertRoute route{RouteRecipients(value("Emails")),
                   RouteRecipients(value("Pagers")),
                   value("Subject"),
                   value("Text"),
                   kDefaultRepeatWindow,
                   value("SmtpServer"),
                   value("MailFrom"),
                   value("Profile")};
  if (auto window = ini::FindValue(text_, name, "RepeatWindow")) {
    route.repeat_window = RouteRepeatWindow(*window);
  }
  return route;
}

}  // namespace qz
