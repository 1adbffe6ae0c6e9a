#include "dispatch/request_journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/file_io.h"
#include "platform/holders.h"

namespace qz {
namespace {

bool PWriteAll(int fd, std::string_view data, uint64_t offset) {
  while (!data.empty()) {
    ssize_t n = ::pwrite(fd, data.data(), data.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

bool PReadAll(int fd, std::string& out, uint64_t size, uint64_t offset) {
  out.resize(size);
  uint64_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, out.data() + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<uint64_t>(n);
  }
  return true;
}

Status SystemError(std::string_view what, const std::string& path) {
  return Status::IoError(std::string(what) + " " + path + ": " + std::strerror(errno));
}

// A journal file of another run whose lock we hold, so its run is gone.
struct Abandoned {
  std::string name;
  UniqueFd fd;
  JournalContents contents;
};

// Names in the folder other than `own`, as the folder lists them.
std::vector<std::string> OtherNames(int dir, const std::string& own) {
  std::vector<std::string> names;
  UniqueFd listing(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!listing) return names;
  DirPtr d(::fdopendir(listing.get()));
  if (!d) return names;
  (void)listing.Release();  // the DIR owns it now
  while (dirent* e = ::readdir(d.get())) {
    std::string name = e->d_name;
    if (name != "." && name != ".." && name != own) names.push_back(name);
  }
  return names;
}

}  // namespace

std::unique_ptr<RequestJournal> RequestJournal::Open(const std::string& program_folder,
                                                     Status& status, Options options) {
  std::string folder = program_folder + "/" + std::string(kJournalFolderName);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    status = SystemError("cannot create", folder);
    return nullptr;
  }
  UniqueFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
  if (!dir) {
    status = SystemError("cannot open", folder);
    return nullptr;
  }
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::system_clock::now().time_since_epoch())
                .count();
  // One process may open two journals within a millisecond (a takeover):
  // the next free number keeps their names apart.
  std::string name;
  UniqueFd file;
  for (int tries = 0; tries < 1000 && !file; ++tries, ++ms) {
    name = "run-" + std::to_string(::getpid()) + "-" + std::to_string(ms) +
           std::string(kJournalFileSuffix);
    file.Reset(::openat(dir.get(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                        0600));
    if (!file && errno != EEXIST) break;
  }
  if (!file || ::flock(file.get(), LOCK_EX | LOCK_NB) != 0 ||
      !WriteAll(file.get(), kJournalHeader) || ::fsync(file.get()) != 0 ||
      ::fsync(dir.get()) != 0) {
    status = SystemError("cannot start a journal file in", folder);
    if (file) ::unlinkat(dir.get(), name.c_str(), 0);
    return nullptr;
  }
  return std::unique_ptr<RequestJournal>(
      new RequestJournal(std::move(dir), std::move(file), folder, name, options));
}

RequestJournal::RequestJournal(UniqueFd dir, UniqueFd file, std::string folder, std::string name,
                               Options options)
    : dir_(std::move(dir)),
      file_(std::move(file)),
      folder_(std::move(folder)),
      name_(std::move(name)),
      path_(folder_ + "/" + name_),
      options_(options),
      size_(kJournalHeader.size()),
      allocated_(size_) {}

RequestJournal::~RequestJournal() {
  std::lock_guard lock(mutex_);
  if (live_.empty()) {
    ::unlinkat(dir_.get(), name_.c_str(), 0);
    ::fsync(dir_.get());
  }
}

std::vector<RequestJournal::Leftover> RequestJournal::TakeOverEarlierRuns() {
  std::vector<Abandoned> gone;
  for (const std::string& name : OtherNames(dir_.get(), name_)) {
    bool journal = name.ends_with(kJournalFileSuffix) && !name.starts_with(".");
    bool temporary = name.starts_with(".") && name.ends_with(".tmp");
    if (!journal && !temporary) continue;
    UniqueFd fd(::openat(dir_.get(), name.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (!fd || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;  // its run is alive
    struct stat st {};
    // Replaced by its run's compaction between our open and our lock.
    if (::fstat(fd.get(), &st) != 0 || st.st_nlink == 0 || !S_ISREG(st.st_mode)) continue;
    if (temporary) {
      ::unlinkat(dir_.get(), name.c_str(), 0);  // a compaction cut short
      continue;
    }
    std::optional<std::string> bytes = ReadAll(fd.get());
    if (!bytes) continue;
    JournalContents contents = ReadJournal(*bytes);
    if (!contents.recognised) continue;  // not ours to remove
    gone.push_back({name, std::move(fd), std::move(contents)});
  }
  // Into this run's file first, durably, and only then away with theirs:
  // a crash in between repeats those requests rather than losing them.
  std::vector<Leftover> taken;
  for (Abandoned& run : gone)
    for (auto& [key, entry] : run.contents.live) taken.emplace_back(NewKey(), entry.payload);
  bool kept = true;
  for (size_t i = 0; i < taken.size() && kept; ++i)
    kept = Append(JournalRecordType::kPut, taken[i].first, taken[i].second, i + 1 == taken.size());
  if (!kept) {
    // Theirs stay for a later run; ours must not repeat them.
    for (const Leftover& leftover : taken) Remove(leftover.first);
    return {};
  }
  for (Abandoned& run : gone) ::unlinkat(dir_.get(), run.name.c_str(), 0);
  ::fsync(dir_.get());
  return taken;
}

uint64_t RequestJournal::NewKey() {
  std::lock_guard lock(mutex_);
  return next_key_++;
}

bool RequestJournal::Put(uint64_t key, std::string_view payload) {
  return Append(JournalRecordType::kPut, key, payload, true);
}

bool RequestJournal::Remove(uint64_t key) {
  if (keep_everything_) return true;
  return Append(JournalRecordType::kRemove, key, {}, false);
}

size_t RequestJournal::LiveCount() const {
  std::lock_guard lock(mutex_);
  return live_.size();
}

bool RequestJournal::Append(JournalRecordType type, uint64_t key, std::string_view payload,
                            bool durable) {
  std::string frame = FrameRecord(type, key, payload);
  std::unique_lock lock(mutex_);
  if (!open_) open_ = std::make_shared<Batch>();
  std::shared_ptr<Batch> mine = open_;
  mine->changes.push_back({type, key, mine->bytes.size(), frame.size()});
  mine->bytes += frame;
  mine->sync = mine->sync || durable;
  while (!mine->done) {
    if (writing_) {
      written_.wait(lock);
      continue;
    }
    // Leader: write everything queued so far, ours included, in one go.
    writing_ = true;
    std::shared_ptr<Batch> batch = std::move(open_);
    uint64_t start = size_;
    lock.unlock();
    bool ok = WriteBatch(*batch);
    lock.lock();
    if (ok) ApplyBatch(*batch, start);
    batch->ok = ok;
    batch->done = true;
    if (ok && CompactionDue()) {
      std::unordered_map<uint64_t, Extent> live = live_;
      lock.unlock();
      bool compacted = Compact(live);
      lock.lock();
      if (compacted) {
        // Only the writer changes the index, so it is as we copied it.
        live_ = std::move(live);
        dead_bytes_ = 0;
      }
    }
    writing_ = false;
    written_.notify_all();
  }
  return mine->ok;
}

bool RequestJournal::WriteBatch(const Batch& batch) {
  uint64_t end = size_ + batch.bytes.size();
  bool ok = true;
  if (end > allocated_ && options_.preallocate > 0) {
    // Zeros read as the end of the records; the next commit's fdatasync
    // makes the new length durable with it.
    uint64_t target = end + options_.preallocate;
    ok = PWriteAll(file_.get(), std::string(target - allocated_, '\0'), allocated_);
    if (ok) allocated_ = target;
  }
  ok = ok && PWriteAll(file_.get(), batch.bytes, size_) &&
       (!batch.sync || ::fdatasync(file_.get()) == 0);
  if (ok) {
    size_ = end;
    allocated_ = std::max(allocated_, end);
  } else {
    // Cut a partial write off, so later records do not follow a torn one.
    (void)!::ftruncate(file_.get(), static_cast<off_t>(size_));
    allocated_ = size_;
  }
  return ok;
}

void RequestJournal::ApplyBatch(const Batch& batch, uint64_t start) {
  for (const Change& change : batch.changes) {
    auto found = live_.find(change.key);
    if (found != live_.end()) {
      dead_bytes_ += found->second.size;
      live_bytes_ -= found->second.size;
      live_.erase(found);
    }
    if (change.type == JournalRecordType::kPut) {
      live_[change.key] = {start + change.at, change.size};
      live_bytes_ += change.size;
    } else {
      dead_bytes_ += change.size;
    }
  }
}

bool RequestJournal::CompactionDue() const {
  return dead_bytes_ >= options_.compact_after_dead_bytes && dead_bytes_ > live_bytes_;
}

bool RequestJournal::Compact(std::unordered_map<uint64_t, Extent>& live) {
  std::string temp = "." + name_ + ".tmp";
  UniqueFd fd(::openat(dir_.get(), temp.c_str(),
                       O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd) return false;
  // Locked before it gets the journal's name, so no other run takes it over.
  bool ok = ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
  std::string contents(kJournalHeader);
  std::string record;
  for (auto& [key, extent] : live) {
    if (!ok) break;
    ok = PReadAll(file_.get(), record, extent.size, extent.offset);
    extent.offset = contents.size();
    contents += record;
  }
  ok = ok && WriteAll(fd.get(), contents) && ::fsync(fd.get()) == 0 &&
       ::renameat(dir_.get(), temp.c_str(), dir_.get(), name_.c_str()) == 0;
  if (!ok) {
    ::unlinkat(dir_.get(), temp.c_str(), 0);
    return false;
  }
  ::fsync(dir_.get());
  file_ = std::move(fd);
  size_ = contents.size();
  allocated_ = size_;
  return true;
}

}  // namespace qz
