#include "dispatch/delivery_ledger.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <utility>

#include "dispatch/retry_schedule.h"
#include "platform/atomic_replace.h"
#include "platform/file_io.h"
#include "platform/trim.h"
#include "platform/unique_fd.h"

namespace qz {
namespace {

// Sweeps of every key come when the map has doubled since the last one, so
// their cost is spread over the inserts that grew it.
constexpr size_t kLedgerSweepSlack = 64;
// A request name longer than this is cut in the file: it only labels a line.
constexpr size_t kLedgerRequestBytes = 256;

int64_t WindowMs(std::chrono::seconds window) { return std::chrono::milliseconds(window).count(); }

// One line per send: "<unix ms> <digest> <request>", the request with
// blanks, controls and '%' as %XX so the line stays one line.
std::string LedgerLine(int64_t unix_ms, const std::string& digest, std::string_view request) {
  std::string line = std::to_string(unix_ms) + " " + digest + " ";
  for (unsigned char c : request.substr(0, kLedgerRequestBytes)) {
    if (c > 0x20 && c < 0x7f && c != '%') {
      line += static_cast<char>(c);
    } else {
      constexpr char kHex[] = "0123456789ABCDEF";
      line += {'%', kHex[c >> 4], kHex[c & 15]};
    }
  }
  return line + "\n";
}

std::optional<std::pair<int64_t, std::string>> LedgerEntry(std::string_view line,
                                                           std::string& digest) {
  const size_t first = line.find(' ');
  const size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  int64_t unix_ms = 0;
  auto [end, ec] = std::from_chars(line.data(), line.data() + first, unix_ms);
  if (ec != std::errc() || end != line.data() + first) return std::nullopt;
  digest = line.substr(first + 1, second - first - 1);
  std::string request;
  for (size_t i = second + 1; i < line.size(); ++i) {
    unsigned value = 0;
    if (line[i] == '%' && i + 2 < line.size() &&
        std::from_chars(line.data() + i + 1, line.data() + i + 3, value, 16).ptr ==
            line.data() + i + 3) {
      request += static_cast<char>(value);
      i += 2;
    } else {
      request += line[i];
    }
  }
  return std::pair{unix_ms, std::move(request)};
}

}  // namespace

DeliveryLedger::DeliveryLedger(std::string folder,
                               std::function<void(std::string_view line)> report)
    : folder_(std::move(folder)), report_(std::move(report)) {}

std::optional<SendLedger::Hold> DeliveryLedger::Take(const std::string& recipient,
                                                     const std::vector<ThrottleCap>& caps,
                                                     int64_t now_ms) {
  int64_t longest = 0;
  for (const ThrottleCap& cap : caps) longest = std::max(longest, WindowMs(cap.window));
  std::lock_guard lock(mutex_);
  if (sends_.size() > 2 * sends_swept_ + kLedgerSweepSlack) {
    std::erase_if(sends_, [&](const auto& entry) {
      return entry.second.empty() || entry.second.back() <= now_ms - longest;
    });
    sends_swept_ = sends_.size();
  }
  std::deque<int64_t>& times = sends_[recipient];
  while (!times.empty() && times.front() <= now_ms - longest) times.pop_front();
  const std::optional<Hold> hold = CapsHold(times, caps, now_ms);
  if (!hold) times.insert(std::upper_bound(times.begin(), times.end(), now_ms), now_ms);
  if (times.empty()) sends_.erase(recipient);
  return hold;
}

void DeliveryLedger::GiveBack(const std::string& recipient, int64_t taken_ms) {
  std::lock_guard lock(mutex_);
  auto found = sends_.find(recipient);
  if (found == sends_.end()) return;
  std::deque<int64_t>& times = found->second;
  if (auto at = std::find(times.begin(), times.end(), taken_ms); at != times.end()) times.erase(at);
  if (times.empty()) sends_.erase(found);
}

std::optional<std::string> DeliveryLedger::DuplicateOf(const std::string& digest,
                                                       std::chrono::seconds window,
                                                       int64_t now_ms) {
  const int64_t oldest = now_ms - WindowMs(window);
  std::lock_guard lock(mutex_);
  LoadOnce(oldest);
  auto found = recent_.find(digest);
  if (found == recent_.end() || found->second.unix_ms <= oldest) return std::nullopt;
  return found->second.request;
}

void DeliveryLedger::RecordSent(const std::string& digest, std::string_view request,
                                std::chrono::seconds window, int64_t now_ms) {
  const int64_t oldest = now_ms - WindowMs(window);
  std::lock_guard lock(mutex_);
  LoadOnce(oldest);
  if (recent_.size() > 2 * recent_swept_ + kLedgerSweepSlack) {
    Forget(oldest);
    recent_swept_ = recent_.size();
  }
  recent_[digest] = Sent{now_ms, std::string(request.substr(0, kLedgerRequestBytes))};
  Persist(LedgerLine(now_ms, digest, request), oldest);
}

void DeliveryLedger::LoadOnce(int64_t oldest_ms) {
  if (loaded_ || folder_.empty()) return;
  loaded_ = true;
  const std::string path = folder_ + "/" + std::string(kRecentSendsFile);
  const std::optional<std::string> text = ReadFileText(path.c_str());
  if (!text) return;
  std::string_view rest = *text;
  std::string digest;
  while (!rest.empty()) {
    const size_t end = std::min(rest.find('\n'), rest.size());
    ++file_lines_;
    // A line cut short by a crash, or anything else unreadable, is skipped.
    if (auto entry = LedgerEntry(rest.substr(0, end), digest); entry && entry->first > oldest_ms) {
      Sent& sent = recent_[digest];
      if (entry->first >= sent.unix_ms) sent = Sent{entry->first, std::move(entry->second)};
    }
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
}

void DeliveryLedger::Forget(int64_t oldest_ms) {
  std::erase_if(recent_, [&](const auto& entry) { return entry.second.unix_ms <= oldest_ms; });
}

void DeliveryLedger::Persist(const std::string& line, int64_t oldest_ms) {
  if (folder_.empty()) return;
  const std::string name(kRecentSendsFile);
  UniqueFd dir(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir) return Trouble("cannot open " + folder_ + ": " + std::strerror(errno));
  if (file_lines_ >= 2 * recent_.size() + kLedgerSweepSlack) {
    Forget(oldest_ms);
    std::string text;
    for (const auto& [digest, sent] : recent_)
      text += LedgerLine(sent.unix_ms, digest, sent.request);
    struct stat like {};
    like.st_mode = S_IFREG | 0600;
    like.st_uid = ::getuid();
    like.st_gid = ::getgid();
    const Status replaced = ReplaceFileContentsAt(dir.get(), name, text, like);
    if (!replaced.ok()) return Trouble(replaced.message());
    file_lines_ = recent_.size();
    troubled_ = false;
    return;
  }
  const bool fresh = file_lines_ == 0;
  UniqueFd file(::openat(dir.get(), name.c_str(),
                         O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!file || ::write(file.get(), line.data(), line.size()) != static_cast<ssize_t>(line.size()) ||
      ::fdatasync(file.get()) != 0)
    return Trouble("cannot append to " + folder_ + "/" + name + ": " + std::strerror(errno));
  if (fresh) (void)::fsync(dir.get());  // the file's name, once
  ++file_lines_;
  troubled_ = false;
}

void DeliveryLedger::Trouble(const std::string& what) {
  // The window still holds in memory; only a restart would forget it.
  if (troubled_ || !report_) return;
  troubled_ = true;
  report_("duplicate window: " + what + " (kept in memory only)");
}

std::optional<std::string> LedgerGate::Recipient(const Variant& to) const {
  try {
    return std::string(TrimSpaces(to.Text()));
  } catch (...) {
    return std::nullopt;  // not text: the channel decides what to do with it
  }
}

std::string LedgerGate::Digest(const std::string& recipient, const std::string& text) const {
  std::unique_ptr<GChecksum, decltype(&g_checksum_free)> sum(g_checksum_new(G_CHECKSUM_SHA256),
                                                             &g_checksum_free);
  for (const std::string* part : {&lane_.gateway, &recipient, &lane_.also_same, &text}) {
    // The terminating NUL keeps "ab"+"c" apart from "a"+"bc".
    g_checksum_update(sum.get(), reinterpret_cast<const guchar*>(part->c_str()),
                      static_cast<gssize>(part->size() + 1));
  }
  // 128 bits: no two texts of a window meet by chance.
  return std::string(g_checksum_get_string(sum.get())).substr(0, 32);
}

GateAnswer LedgerGate::Before(const std::string& text, const Variant& to) {
  taken_ms_.reset();
  const std::optional<std::string> recipient = Recipient(to);
  if (!recipient) return {};
  const int64_t now = UnixMsNow();
  if (gates_.suppress_for.count() > 0)
    if (auto first = ledger_.DuplicateOf(Digest(*recipient, text), gates_.suppress_for, now)) {
      if (report_)
        report_("request " + lane_.request + ": " + lane_.kind + " (" + lane_.gateway + ") to " +
                *recipient + ": suppressed (duplicate of " + *first + ")");
      return {.verdict = GateVerdict::kAlreadySent};
    }
  if (!lane_.throttled || gates_.caps.empty()) return {};
  if (auto hold = ledger_.Take(lane_.gateway + '\0' + *recipient, gates_.caps, now))
    return {.verdict = GateVerdict::kWait,
            .wait = std::chrono::seconds(std::max<int64_t>(1, (hold->wait_ms + 999) / 1000)),
            .why = "throttled (" + std::to_string(hold->cap.count) + " in " +
                   std::to_string(hold->cap.window.count()) + " s)"};
  taken_ms_ = now;
  return {};
}

void LedgerGate::After(const std::string& text, const Variant& to, bool sent) {
  const std::optional<int64_t> taken = std::exchange(taken_ms_, std::nullopt);
  const std::optional<std::string> recipient = Recipient(to);
  if (!recipient) return;
  if (!sent && taken) ledger_.GiveBack(lane_.gateway + '\0' + *recipient, *taken);
  if (sent && gates_.suppress_for.count() > 0)
    ledger_.RecordSent(Digest(*recipient, text), lane_.request, gates_.suppress_for, UnixMsNow());
}

}  // namespace qz
