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
#include <ctime>
#include <tuple>

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

std::string NotAFile(int error) {
  if (error == ELOOP) return "a symbolic link";
  if (error == EISDIR) return "a folder";
  return std::strerror(error);
}

// "<name without suffix>.found-<UTC time>.qzj": which run's file, and when
// it was found damaged.
std::string AsideName(const std::string& name, int attempt) {
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  char when[32];
  std::strftime(when, sizeof when, "%Y%m%dT%H%M%SZ", &utc);
  std::string stem = name.substr(0, name.size() - kJournalFileSuffix.size());
  return stem + ".found-" + when + (attempt ? "-" + std::to_string(attempt) : "") +
         std::string(kJournalFileSuffix);
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
  std::string name, header = NewJournalHeader();
  UniqueFd file;
  for (int tries = 0; tries < 1000 && !file; ++tries, ++ms) {
    name = "run-" + std::to_string(::getpid()) + "-" + std::to_string(ms) +
           std::string(kJournalFileSuffix);
    file.Reset(::openat(dir.get(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                        0600));
    if (!file && errno != EEXIST) break;
  }
  if (!file || ::flock(file.get(), LOCK_EX | LOCK_NB) != 0 || !WriteAll(file.get(), header) ||
      ::fsync(file.get()) != 0 || ::fsync(dir.get()) != 0) {
    status = SystemError("cannot start a journal file in", folder);
    if (file) ::unlinkat(dir.get(), name.c_str(), 0);
    return nullptr;
  }
  return std::unique_ptr<RequestJournal>(new RequestJournal(std::move(dir), std::move(file), folder,
                                                            name, std::move(header), options));
}

RequestJournal::RequestJournal(UniqueFd dir, UniqueFd file, std::string folder, std::string name,
                               std::string header, Options options)
    : dir_(std::move(dir)),
      file_(std::move(file)),
      folder_(std::move(folder)),
      name_(std::move(name)),
      path_(folder_ + "/" + name_),
      header_(std::move(header)),
      options_(std::move(options)),
      size_(header_.size()),
      allocated_(size_),
      compact_at_(options_.compact_after_dead_bytes) {}

RequestJournal::~RequestJournal() {
  std::lock_guard lock(mutex_);
  if (!unremoved_.empty()) {
    // Their runs ended, whatever else is kept. Their room was set aside when
    // they were put, so only a failing disk keeps them out now.
    std::string frames;
    for (uint64_t key : unremoved_) frames += FrameRecord(header_, JournalRecordType::kRemove, key);
    if (PWriteAll(file_.get(), frames, size_)) {
      for (uint64_t key : unremoved_) live_.erase(key);
      unremoved_.clear();
    } else {
      Report("journal: stopping with " + std::to_string(unremoved_.size()) +
             " ended requests whose end cannot be written to " + path_ + " (" +
             std::strerror(errno) + "): the next run repeats them");
    }
  }
  if (live_.empty()) {
    ::unlinkat(dir_.get(), name_.c_str(), 0);
    ::fsync(dir_.get());
  } else {
    ::fdatasync(file_.get());  // the removals written since the last put
  }
}

std::vector<RequestJournal::Leftover> RequestJournal::TakeOverEarlierRuns() {
  std::vector<Abandoned> gone;
  UniqueFd aside;  // the damaged/ folder, once a file needs it
  const std::string aside_path = folder_ + "/" + std::string(kJournalDamagedFolder);
  for (const std::string& name : OtherNames(dir_.get(), name_)) {
    bool journal = name.ends_with(kJournalFileSuffix) && !name.starts_with(".");
    bool temporary = name.starts_with(".") && name.ends_with(".tmp");
    if (!journal && !temporary) continue;
    UniqueFd fd(::openat(dir_.get(), name.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd) {
      if (journal) Report("journal: left " + name + " alone: " + NotAFile(errno));
      continue;
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;  // its run is alive
    struct stat st {};
    // Replaced by its run's compaction between our open and our lock.
    if (::fstat(fd.get(), &st) != 0 || st.st_nlink == 0) continue;
    if (!S_ISREG(st.st_mode)) {
      if (journal) Report("journal: left " + name + " alone: not a regular file");
      continue;
    }
    if (temporary) {
      ::unlinkat(dir_.get(), name.c_str(), 0);  // a compaction cut short
      continue;
    }
    JournalContents contents = ReadJournal(fd.get());
    if (contents.damaged() && !aside) {
      // One that exists already is fine; any other failure shows in the open.
      (void)::mkdirat(dir_.get(), std::string(kJournalDamagedFolder).c_str(), 0700);
      aside.Reset(::openat(dir_.get(), std::string(kJournalDamagedFolder).c_str(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
      if (!aside) {
        // Taking its requests without moving it would run them again later.
        Report("journal: " + name + " is damaged and " + aside_path + " cannot be opened (" +
               std::strerror(errno) + "): left where it is, not replayed");
        continue;
      }
    }
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
    Report("journal: cannot take over " + std::to_string(taken.size()) +
           " requests of earlier runs into " + path_ + ": they stay for a later run");
    // Theirs stay for a later run; ours must not repeat them.
    for (const Leftover& leftover : taken) Remove(leftover.first);
    return {};
  }
  for (Abandoned& run : gone) {
    if (!run.contents.damaged()) {
      ::unlinkat(dir_.get(), run.name.c_str(), 0);
      continue;
    }
    std::string kept_as;
    for (int attempt = 0; attempt < 100 && kept_as.empty(); ++attempt) {
      std::string candidate = AsideName(run.name, attempt);
      if (::renameat2(dir_.get(), run.name.c_str(), aside.get(), candidate.c_str(),
                      RENAME_NOREPLACE) == 0)
        kept_as = candidate;
      else if (errno != EEXIST)
        break;
    }
    const JournalContents& c = run.contents;
    Report("journal: " + run.name + " is damaged" + (c.recognised ? "" : " (no journal header)") +
           (c.read_error ? " (a read failed)" : "") + ": " + std::to_string(c.records) +
           " records recovered (" + std::to_string(c.live.size()) + " requests to replay), " +
           std::to_string(c.skipped_bytes) + " bytes skipped; " +
           (kept_as.empty() ? "cannot be moved aside (" + std::string(std::strerror(errno)) +
                                  "), so the next run replays them again"
                            : "kept as " + aside_path + "/" + kept_as));
  }
  ::fsync(dir_.get());
  if (aside) ::fsync(aside.get());
  return taken;
}

uint64_t RequestJournal::NewKey() {
  std::lock_guard lock(mutex_);
  return next_key_++;
}

bool RequestJournal::Put(uint64_t key, std::string_view payload) {
  const bool kept = Append(JournalRecordType::kPut, key, payload, true);
  std::lock_guard lock(mutex_);
  failed_.erase(key);  // replaced: even a failed write may have replaced it
  return kept;
}

bool RequestJournal::PutFailed(uint64_t key, std::string_view payload) {
  const bool kept = Append(JournalRecordType::kPut, key, payload, true);
  if (kept) HoldFailed(key, std::string(payload));
  return kept;
}

void RequestJournal::HoldFailed(uint64_t key, std::string payload) {
  std::lock_guard lock(mutex_);
  failed_[key] = std::move(payload);
}

bool RequestJournal::Remove(uint64_t key) {
  {
    std::lock_guard lock(mutex_);
    failed_.erase(key);
  }
  if (keep_everything_) return true;
  return Append(JournalRecordType::kRemove, key, {}, false);
}

size_t RequestJournal::LiveCount() const {
  std::lock_guard lock(mutex_);
  return live_.size();
}

size_t RequestJournal::FailedCount() const {
  std::lock_guard lock(mutex_);
  return failed_.size();
}

std::vector<RequestJournal::Leftover> RequestJournal::Failed() const {
  std::lock_guard lock(mutex_);
  return {failed_.begin(), failed_.end()};
}

bool RequestJournal::Holds(uint64_t key) const {
  if (live_.contains(key)) return true;
  for (const Batch* batch : {open_.get(), in_flight_.get()})
    if (batch)
      for (const Change& change : batch->changes)
        if (change.key == key && change.type == JournalRecordType::kPut) return true;
  return false;
}

size_t RequestJournal::LiveAfter(const Batch& batch) const {
  size_t live = live_.size();
  std::unordered_map<uint64_t, bool> changed;
  for (const auto* list : {&batch.retries, &batch.changes})
    for (const Change& change : *list) {
      auto [at, fresh] = changed.try_emplace(change.key, live_.contains(change.key));
      const bool put = change.type == JournalRecordType::kPut;
      if (put != at->second) put ? ++live : --live;
      at->second = put;
    }
  return live;
}

bool RequestJournal::Append(JournalRecordType type, uint64_t key, std::string_view payload,
                            bool durable) {
  std::string frame = FrameRecord(header_, type, key, payload);
  std::unique_lock lock(mutex_);
  // A put that never reached the file leaves nothing to end.
  if (type == JournalRecordType::kRemove && !Holds(key)) return true;
  if (!open_) open_ = std::make_shared<Batch>();
  std::shared_ptr<Batch> mine = open_;
  const size_t index = mine->changes.size();
  mine->changes.push_back({type, key, std::move(frame)});
  mine->sync = mine->sync || durable;
  while (!mine->done) {
    if (writing_) {
      written_.wait(lock);
      continue;
    }
    // Leader: write everything queued so far, ours included, in one go.
    writing_ = true;
    std::shared_ptr<Batch> batch = std::move(open_);
    for (uint64_t failed : unremoved_)
      batch->retries.push_back({JournalRecordType::kRemove, failed,
                                FrameRecord(header_, JournalRecordType::kRemove, failed)});
    in_flight_ = batch;
    const size_t live_after = LiveAfter(*batch);
    lock.unlock();
    WriteBatch(*batch, live_after);
    lock.lock();
    std::vector<std::string> lines = ApplyBatch(*batch);
    batch->done = true;
    in_flight_.reset();
    if (dead_bytes_ >= compact_at_ && dead_bytes_ > live_bytes_) {
      std::unordered_map<uint64_t, Extent> live = live_;
      lock.unlock();
      bool compacted = Compact(live);
      lock.lock();
      if (compacted) {
        // Only the writer changes the index, so it is as we copied it.
        live_ = std::move(live);
        dead_bytes_ = 0;
      }
      // A full disk refuses the copy: try again once as much more is dead.
      compact_at_ = dead_bytes_ + options_.compact_after_dead_bytes;
    }
    writing_ = false;
    written_.notify_all();
    lock.unlock();
    for (const std::string& line : lines) Report(line);
    lock.lock();
  }
  return mine->changes[index].ok;
}

void RequestJournal::WriteBatch(Batch& batch, size_t live_after) {
  std::vector<Change*> all;
  for (auto* list : {&batch.retries, &batch.changes})
    for (Change& change : *list) all.push_back(&change);
  auto frames = [&](bool removes_only) {
    std::string bytes;
    std::vector<Change*> written;
    std::set<uint64_t> ended;
    for (Change* change : all) {
      // Only the removals of entries in the file had room set aside; one
      // whose put is refused with it has nothing to end.
      if (removes_only) {
        if (change->type == JournalRecordType::kPut) continue;
        if (!live_.contains(change->key)) {
          change->ok = true;
          continue;
        }
        if (!ended.insert(change->key).second) continue;  // a duplicate ends nothing more
      }
      change->offset = size_ + bytes.size();
      bytes += change->frame;
      written.push_back(change);
    }
    return std::pair{std::move(bytes), std::move(written)};
  };
  auto [bytes, written] = frames(false);
  bool puts = true;
  if (!Reserve(size_ + bytes.size() + kJournalRemoveSize * live_after)) {
    // Removals always fit in the room their puts set aside; the puts are
    // refused (their callers report it) until there is space again.
    std::tie(bytes, written) = frames(true);
    puts = false;
  }
  if (bytes.empty()) return;
  bool sync = puts && batch.sync;
  bool ok = PWriteAll(file_.get(), bytes, size_) && (!sync || ::fdatasync(file_.get()) == 0);
  if (!ok) {
    error_ = std::strerror(errno);
    // Zeros again over a partial write, in room already allocated, so no
    // later record follows a torn one.
    (void)PWriteAll(file_.get(), std::string(bytes.size(), '\0'), size_);
    return;
  }
  size_ += bytes.size();
  for (Change* change : written) change->ok = true;
}

bool RequestJournal::Reserve(uint64_t length) {
  if (length <= allocated_) return true;
  // Zeros read as the end of the records; the next commit's fdatasync
  // makes the new length durable with it. Failing that, just what is asked.
  for (uint64_t target : {length + options_.preallocate, length}) {
    if (PWriteAll(file_.get(), std::string(target - allocated_, '\0'), allocated_)) {
      allocated_ = target;
      return true;
    }
    error_ = std::strerror(errno);
    (void)!::ftruncate(file_.get(), static_cast<off_t>(allocated_));
  }
  return false;
}

std::vector<std::string> RequestJournal::ApplyBatch(Batch& batch) {
  std::vector<std::string> lines;
  for (auto* list : {&batch.retries, &batch.changes})
    for (const Change& change : *list) {
      const bool put = change.type == JournalRecordType::kPut;
      if (!change.ok) {
        // Still live: not ended by an earlier record of this batch.
        if (!put && live_.contains(change.key) && unremoved_.insert(change.key).second)
          lines.push_back("journal: cannot write the end of entry " + std::to_string(change.key) +
                          " to " + path_ + " (" + error_ +
                          "): retried with the next write and at the stop");
        continue;
      }
      unremoved_.erase(change.key);
      auto found = live_.find(change.key);
      if (found != live_.end()) {
        dead_bytes_ += found->second.size;
        live_bytes_ -= found->second.size;
        live_.erase(found);
      }
      if (put) {
        live_[change.key] = {change.offset, change.frame.size()};
        live_bytes_ += change.frame.size();
      } else {
        dead_bytes_ += change.frame.size();
      }
    }
  return lines;
}

bool RequestJournal::Compact(std::unordered_map<uint64_t, Extent>& live) {
  std::string temp = "." + name_ + ".tmp";
  UniqueFd fd(::openat(dir_.get(), temp.c_str(),
                       O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd) return false;
  // Locked before it gets the journal's name, so no other run takes it over.
  bool ok = ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
  std::string contents(header_);
  std::string record;
  for (auto& [key, extent] : live) {
    if (!ok) break;
    ok = PReadAll(file_.get(), record, extent.size, extent.offset);
    extent.offset = contents.size();
    contents += record;
  }
  const uint64_t records_end = contents.size();
  // The new file keeps the room for every live entry's removal.
  contents.append(kJournalRemoveSize * live.size() + options_.preallocate, '\0');
  ok = ok && WriteAll(fd.get(), contents) && ::fsync(fd.get()) == 0 &&
       ::renameat(dir_.get(), temp.c_str(), dir_.get(), name_.c_str()) == 0;
  if (!ok) {
    ::unlinkat(dir_.get(), temp.c_str(), 0);
    return false;
  }
  ::fsync(dir_.get());
  file_ = std::move(fd);
  size_ = records_end;
  allocated_ = contents.size();
  return true;
}

}  // namespace qz
