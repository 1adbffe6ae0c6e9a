// The objects the server has handed out, by object path: their class,
// creator, reference count and apartment. The served object itself is
// created, used and destroyed only on its apartment's thread; the table
// only hands the entry around. Safe from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/apartment.h"
#include "contract/contract.h"
#include "server/caller_ledger.h"
#include "server/class_table.h"
#include "server/served_object.h"

namespace qz {

struct ObjectEntry {
  std::string path;
  std::string owner;  // unique bus name of the creating connection
  const ClassDescription* description;
  std::shared_ptr<Apartment> apartment;  // the object's seat
  // Whose object it is (on the system bus): a request it hands over is
  // seated within the same user's share, away from other users' objects.
  std::optional<uint32_t> user;
  std::unique_ptr<ServedObject> object;  // apartment thread only
  uint32_t refs = 1;                     // guarded by the table
  // The accepted request waiting for its run, counted against its caller
  // (apartment thread only).
  std::optional<CallerLedger::Ticket> request;
  // The object counted against its creator's user (main thread only).
  std::optional<CallerLedger::Ticket> seat;
};

// "cNotify/3" of "/org/qznotes/QzNotes/cNotify/3", for log lines.
inline std::string_view ShortPath(std::string_view path) {
  return path.substr(std::string_view(kFactoryPath).size() + 1);
}

class ObjectTable {
 public:
  // A new entry with one reference at a path of the class ending in a
  // random 64-bit number, so that nobody can guess another's object.
  std::shared_ptr<ObjectEntry> Add(const ClassDescription& description, std::string owner,
                                   std::shared_ptr<Apartment> apartment);
  std::shared_ptr<ObjectEntry> Find(std::string_view path) const;

  struct Counted {
    std::optional<uint32_t> count;  // nothing for an unknown path
    bool refused = false;           // it already held `max`: unchanged
  };
  // The count after one more reference, which is refused at `max`.
  Counted AddRef(std::string_view path, uint32_t max);
  // The new count and, when it reached 0, the entry now removed.
  std::optional<std::pair<uint32_t, std::shared_ptr<ObjectEntry>>> Release(std::string_view path);
  // Removes every object the connection created.
  std::vector<std::shared_ptr<ObjectEntry>> RemoveOwnedBy(std::string_view owner);
  std::vector<std::shared_ptr<ObjectEntry>> RemoveAll();
  std::vector<std::shared_ptr<ObjectEntry>> All() const;

  // Names of the nodes right below `path` that lead to objects `visible`
  // accepts.
  std::vector<std::string> ChildrenOf(std::string_view path,
                                      const std::function<bool(const ObjectEntry&)>& visible) const;
  size_t size() const;
  // How many objects in the table the connection created.
  size_t OwnedBy(std::string_view owner) const;

 private:
  void Forget(const ObjectEntry& entry);  // with the mutex held

  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<ObjectEntry>, std::less<>> entries_;
  std::map<std::string, size_t, std::less<>> owned_;
};

}  // namespace qz
