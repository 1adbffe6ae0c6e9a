#include "server/object_table.h"

#include <set>

#include "automation/run_time_error.h"
#include "platform/random_bytes.h"

namespace qz {
namespace {

uint64_t RandomNumber() {
  uint64_t n = 0;
  if (!FillRandom({reinterpret_cast<unsigned char*>(&n), sizeof n}))
    throw RunTimeError(kErrInternal, "no random numbers", kBoundarySource);
  return n;
}

}  // namespace

std::shared_ptr<ObjectEntry> ObjectTable::Add(const ClassDescription& description,
                                              std::string owner,
                                              std::shared_ptr<Apartment> apartment) {
  auto entry = std::make_shared<ObjectEntry>();
  entry->owner = std::move(owner);
  entry->description = &description;
  entry->apartment = std::move(apartment);
  std::lock_guard lock(mutex_);
  const std::string folder =
      std::string(kFactoryPath) + "/" + std::string(description.class_name) + "/";
  do entry->path = folder + std::to_string(RandomNumber());
  while (!entries_.emplace(entry->path, entry).second);
  ++owned_[entry->owner];
  return entry;
}

std::shared_ptr<ObjectEntry> ObjectTable::Find(std::string_view path) const {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(path);
  return it == entries_.end() ? nullptr : it->second;
}

ObjectTable::Counted ObjectTable::AddRef(std::string_view path, uint32_t max) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(path);
  if (it == entries_.end()) return {};
  uint32_t& refs = it->second->refs;
  if (refs >= max) return {refs, true};
  return {++refs, false};
}

std::optional<std::pair<uint32_t, std::shared_ptr<ObjectEntry>>> ObjectTable::Release(
    std::string_view path) {
  std::lock_guard lock(mutex_);
  auto it = entries_.find(path);
  if (it == entries_.end()) return std::nullopt;
  uint32_t count = --it->second->refs;
  if (count > 0) return std::pair(count, std::shared_ptr<ObjectEntry>());
  auto entry = it->second;
  Forget(*entry);
  entries_.erase(it);
  return std::pair(count, entry);
}

std::vector<std::shared_ptr<ObjectEntry>> ObjectTable::RemoveOwnedBy(std::string_view owner) {
  std::vector<std::shared_ptr<ObjectEntry>> removed;
  std::lock_guard lock(mutex_);
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->second->owner == owner) {
      removed.push_back(it->second);
      Forget(*it->second);
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
  return removed;
}

std::vector<std::shared_ptr<ObjectEntry>> ObjectTable::RemoveAll() {
  std::vector<std::shared_ptr<ObjectEntry>> removed;
  std::lock_guard lock(mutex_);
  for (auto& [path, entry] : entries_) removed.push_back(entry);
  entries_.clear();
  owned_.clear();
  return removed;
}

std::vector<std::shared_ptr<ObjectEntry>> ObjectTable::All() const {
  std::vector<std::shared_ptr<ObjectEntry>> all;
  std::lock_guard lock(mutex_);
  for (const auto& [path, entry] : entries_) all.push_back(entry);
  return all;
}

std::vector<std::string> ObjectTable::ChildrenOf(
    std::string_view path, const std::function<bool(const ObjectEntry&)>& visible) const {
  std::string prefix(path);
  if (prefix.back() != '/') prefix += '/';
  std::set<std::string> children;
  std::lock_guard lock(mutex_);
  for (auto it = entries_.lower_bound(prefix);
       it != entries_.end() && it->first.starts_with(prefix); ++it) {
    if (!visible(*it->second)) continue;
    std::string_view rest = std::string_view(it->first).substr(prefix.size());
    children.emplace(rest.substr(0, rest.find('/')));
  }
  return {children.begin(), children.end()};
}

size_t ObjectTable::size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

size_t ObjectTable::OwnedBy(std::string_view owner) const {
  std::lock_guard lock(mutex_);
  auto it = owned_.find(owner);
  return it == owned_.end() ? 0 : it->second;
}

void ObjectTable::Forget(const ObjectEntry& entry) {
  auto it = owned_.find(entry.owner);
  if (it != owned_.end() && --it->second == 0) owned_.erase(it);
}

}  // namespace qz
