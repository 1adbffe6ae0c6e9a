#include "dispatch/journal_listing.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "config/delivery_policy.h"
#include "dispatch/delivery_ledger.h"
#include "dispatch/journal_file.h"
#include "dispatch/journal_store.h"
#include "platform/unique_fd.h"

namespace qz {
namespace {

namespace fs = std::filesystem;

std::string JournalFolder(const std::string& program_folder) {
  return program_folder + "/" + std::string(kJournalFolderName);
}

// The journal files, by name.
std::optional<std::vector<std::string>> FileNames(const std::string& folder, Status& status) {
  std::vector<std::string> names;
  std::error_code ec;
  if (!fs::exists(folder, ec)) return names;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.ends_with(kJournalFileSuffix) && !name.starts_with(".")) names.push_back(name);
  }
  if (ec) {
    status = Status::IoError("cannot read " + folder + ": " + ec.message());
    return std::nullopt;
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string NotAFile(fs::file_type type) {
  if (type == fs::file_type::symlink) return "a symbolic link";
  if (type == fs::file_type::directory) return "a folder";
  return "not a regular file";
}

// Open and locked: no daemon holds the file now, nor can take it over
// while the descriptor lives. Not locked: in use (or unreadable).
UniqueFd OpenUnlessInUse(const std::string& path, bool& in_use, Status& status) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  in_use = false;
  if (!fd) {
    status = Status::IoError("cannot open " + path + ": " + std::strerror(errno));
    return fd;
  }
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    in_use = errno == EWOULDBLOCK;
    if (!in_use) status = Status::IoError("cannot lock " + path + ": " + std::strerror(errno));
    fd.Reset();
  }
  return fd;
}

}  // namespace

std::optional<JournalListing> ListJournal(const std::string& program_folder, Status& status) {
  const std::string folder = JournalFolder(program_folder);
  std::error_code ec;
  JournalListing listing;
  if (!fs::is_directory(folder, ec)) {
    // A daemon that never ran there has no journal yet; a folder that is
    // not there at all is a mistake worth saying.
    if (!fs::exists(folder, ec) && fs::is_directory(program_folder, ec)) return listing;
    status = Status::IoError("no request journal at " + folder +
                             (ec ? ": " + ec.message() : std::string(": not a folder")));
    return std::nullopt;
  }
  std::vector<std::string> names;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  if (ec) {
    status = Status::IoError("cannot read " + folder + ": " + ec.message());
    return std::nullopt;
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    if (name.starts_with(".") && name.ends_with(".tmp")) continue;  // a compaction under way
    // The duplicate window kept beside the journal, and its rewrite under way.
    if (name == kRecentSendsFile || name.starts_with("." + std::string(kRecentSendsFile) + "."))
      continue;
    if (name == kJournalDamagedFolder && fs::is_directory(fs::symlink_status(path, ec))) {
      for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
        listing.damaged_kept += it->path().filename().string().ends_with(kJournalFileSuffix);
      continue;
    }
    if (!name.ends_with(kJournalFileSuffix) || name.starts_with(".")) {
      listing.skipped.push_back({name, "not a journal file"});
      continue;
    }
    // Not blocking: a named pipe in its place must not hang the listing.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) {
      const int error = errno;
      const fs::file_type type = fs::symlink_status(path, ec).type();
      listing.skipped.push_back(
          {name, type == fs::file_type::regular ? std::strerror(error) : NotAFile(type)});
      continue;
    }
    if (!S_ISREG(st.st_mode)) {
      listing.skipped.push_back({name, NotAFile(fs::symlink_status(path, ec).type())});
      continue;
    }
    JournalFileReport report;
    report.name = name;
    // A shared lock is refused only while a daemon holds the file.
    report.in_use = ::flock(fd.get(), LOCK_SH | LOCK_NB) != 0;
    JournalContents contents = ReadJournal(fd.get());
    report.recognised = contents.recognised;
    report.skipped_bytes = contents.skipped_bytes;
    report.read_error = contents.read_error;
    for (auto& [key, entry] : contents.live) {
      try {
        report.requests.push_back(DecodeRequest(entry.payload));
      } catch (const std::exception&) {
        ++report.unreadable;
      }
    }
    listing.files.push_back(std::move(report));
  }
  return listing;
}

JournalClearing ClearJournal(const std::string& program_folder) {
  JournalClearing result;
  std::string folder = JournalFolder(program_folder);
  auto names = FileNames(folder, result.status);
  if (!names) return result;
  for (const std::string& name : *names) {
    std::string path = folder + "/" + name;
    std::error_code ec;
    if (const fs::file_type type = fs::symlink_status(path, ec).type();
        type != fs::file_type::regular) {
      result.skipped.push_back({name, NotAFile(type)});
      continue;
    }
    bool in_use = false;
    UniqueFd fd = OpenUnlessInUse(path, in_use, result.status);
    if (in_use) {
      result.in_use.push_back(name);
      continue;
    }
    if (!fd) return result;
    size_t requests = ReadJournal(fd.get()).live.size();
    // Removed while locked, so no daemon starting now takes it over.
    if (::unlink(path.c_str()) != 0) {
      result.status = Status::IoError("cannot remove " + path + ": " + std::strerror(errno));
      return result;
    }
    ++result.files_removed;
    result.requests_removed += requests;
  }
  return result;
}

std::vector<DeadLetter> DeadLetters(JournalStore& journal, const std::string& program_folder,
                                    int64_t now_unix_ms) {
  const int keep_days = ReadDeliveryPolicy(program_folder).keep_failed_days;
  std::vector<DeadLetter> letters;
  for (auto& [key, payload] : journal.Failed()) {
    RequestRecord record;
    try {
      record = DecodeRequest(payload);
    } catch (const std::exception&) {
      continue;  // HoldFailed takes only what decoded
    }
    if (FailedExpired(record, now_unix_ms, keep_days))
      journal.Remove(key);
    else
      letters.push_back({key, std::move(record)});
  }
  std::stable_sort(letters.begin(), letters.end(), [](const DeadLetter& a, const DeadLetter& b) {
    return a.record.failed_unix_ms < b.record.failed_unix_ms;
  });
  return letters;
}

RequestRecord AsNewRun(RequestRecord r, int64_t now_unix_ms) {
  r.accepted_unix_ms = now_unix_ms;  // GiveUpAfter counts from the new start
  r.tries = 0;
  r.next_try_unix_ms = 0;
  r.earlier_failures.clear();
  r.mstrLastLogged.clear();  // its log entry is written again, even if the same
  r.failed = false;
  r.failed_id.clear();
  r.failed_unix_ms = 0;
  r.failed_reasons.clear();
  return r;
}

uint64_t JournalDiskBytes(const std::string& program_folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  uint64_t bytes = 0;
  const fs::path journal = fs::path(program_folder) / kJournalFolderName;
  for (auto it = fs::recursive_directory_iterator(journal, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code size_ec;
    if (!it->is_regular_file(size_ec)) continue;
    const uintmax_t size = it->file_size(size_ec);
    if (!size_ec) bytes += size;
  }
  return bytes;
}

}  // namespace qz
