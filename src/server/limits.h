// What one caller (one bus connection), one Unix user over all its
// connections, and all callers together may make the daemon hold: objects,
// requests waiting for their run, bytes of call arguments waiting, bytes of
// accepted requests in the journal, and the size of each call's arrays.
// Read once at start from the command line. The checks are pure; safe from
// any thread.
#pragma once

#include <gio/gio.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qz {

struct Limits {
  size_t objects = 1000;                    // live objects a connection created
  size_t pending = 1000;                    // its requests whose run has not ended
  size_t elements = 10000;                  // array elements in one request's arguments
  size_t settings_elements = 1000;          // the same in any other call (settings)
  size_t depth = 32;                        // arrays nested in one argument
  size_t pending_bytes = 32 * 1024 * 1024;  // argument bytes of its calls not yet done
  size_t references = 100000;               // AddRef count of one object, so it never wraps
  // One user may hold a quarter of what all callers together may.
  size_t user_objects = 2500;
  size_t user_pending = 2500;
  size_t user_pending_bytes = 64 * 1024 * 1024;
  size_t user_journal_bytes = 64 * 1024 * 1024;  // accepted requests' argument bytes
  size_t total_objects = 10000;
  size_t total_pending = 10000;
  size_t total_pending_bytes = 256 * 1024 * 1024;
  size_t total_journal_bytes = 256 * 1024 * 1024;
};

enum class Limit {
  kObjects,
  kPending,
  kElements,
  kSettingsElements,
  kDepth,
  kPendingBytes,
  kReferences,
  kUserObjects,
  kUserPending,
  kUserPendingBytes,
  kUserJournalBytes,
  kTotalObjects,
  kTotalPending,
  kTotalPendingBytes,
  kTotalJournalBytes
};

// Each limit once: the option that sets it, its field, the largest value
// the option takes (the least is 1) and the option's help without its
// default. In the order of Limit, which is --help's order.
struct LimitRow {
  Limit limit;
  const char* option;  // without dashes: "max-elements"
  size_t Limits::*field;
  size_t max;
  const char* help;
};
inline constexpr LimitRow kLimitRows[] = {
    {Limit::kObjects, "max-objects", &Limits::objects, 1000000,
     "At most N live objects per connection"},
    {Limit::kPending, "max-pending", &Limits::pending, 1000000,
     "At most N requests per connection waiting for their run"},
    {Limit::kElements, "max-elements", &Limits::elements, 1000000000,
     "At most N array elements, at all levels, in one request's arguments"},
    {Limit::kSettingsElements, "max-settings-elements", &Limits::settings_elements, 1000000000,
     "At most N array elements in one call that is no request, such as a settings write"},
    {Limit::kDepth, "max-depth", &Limits::depth, 64, "At most N arrays nested in one argument"},
    {Limit::kPendingBytes, "max-pending-bytes", &Limits::pending_bytes, size_t{1} << 40,
     "At most N bytes of arguments per connection in calls and requests not yet done"},
    {Limit::kReferences, "max-references", &Limits::references, 0xFFFFFFFE,
     "At most N references (AddRef) held on one object"},
    {Limit::kUserObjects, "max-user-objects", &Limits::user_objects, 1000000,
     "At most N live objects per Unix user, over all its connections"},
    {Limit::kUserPending, "max-user-pending", &Limits::user_pending, 1000000,
     "At most N requests per Unix user waiting for their run"},
    {Limit::kUserPendingBytes, "max-user-pending-bytes", &Limits::user_pending_bytes,
     size_t{1} << 40,
     "At most N bytes of arguments per Unix user in calls and requests not yet done"},
    {Limit::kUserJournalBytes, "max-user-journal-bytes", &Limits::user_journal_bytes,
     size_t{1} << 40, "At most N argument bytes per Unix user in accepted requests not yet run"},
    {Limit::kTotalObjects, "max-total-objects", &Limits::total_objects, 10000000,
     "At most N live objects of all callers"},
    {Limit::kTotalPending, "max-total-pending", &Limits::total_pending, 10000000,
     "At most N requests of all callers waiting for their run"},
    {Limit::kTotalPendingBytes, "max-total-pending-bytes", &Limits::total_pending_bytes,
     size_t{1} << 40, "At most N bytes of arguments of all callers in calls not yet done"},
    {Limit::kTotalJournalBytes, "max-total-journal-bytes", &Limits::total_journal_bytes,
     size_t{1} << 40, "At most N argument bytes of all callers in accepted requests not yet run"},
};

// The option that sets it, without dashes: "max-elements".
std::string_view LimitName(Limit limit);
size_t LimitValue(const Limits& limits, Limit limit);
// The error message a refused call gets.
std::string LimitMessage(const Limits& limits, Limit limit);

// What a connection, a user or all callers hold now; also what one call or
// object adds.
struct CallerUsage {
  size_t objects = 0;
  size_t pending = 0;
  size_t pending_bytes = 0;
  size_t journal_bytes = 0;  // of requests: counted from admission to the run's end
};

// Which limit holds each count at one scope; nothing where none does.
struct ScopeLimits {
  std::optional<Limit> objects, pending, pending_bytes, journal_bytes;
};
// A connection's objects are counted by the object table (CheckNewObject).
inline constexpr ScopeLimits kConnectionScope{std::nullopt, Limit::kPending, Limit::kPendingBytes,
                                              std::nullopt};
inline constexpr ScopeLimits kUserScope{Limit::kUserObjects, Limit::kUserPending,
                                        Limit::kUserPendingBytes, Limit::kUserJournalBytes};
inline constexpr ScopeLimits kTotalScope{Limit::kTotalObjects, Limit::kTotalPending,
                                         Limit::kTotalPendingBytes, Limit::kTotalJournalBytes};

// The limit of `scope` that `usage` plus `more` would pass.
std::optional<Limit> CheckAdd(const Limits& limits, const ScopeLimits& scope,
                              const CallerUsage& usage, const CallerUsage& more);
// What a call of `bytes` adds; `request` when it is a notification request
// (it stays pending until its run ends).
CallerUsage CallUsage(bool request, size_t bytes);

// The limit one more object would pass.
std::optional<Limit> CheckNewObject(const Limits& limits, const CallerUsage& usage);
// The limit of one connection a call of `bytes` would pass.
std::optional<Limit> CheckCall(const Limits& limits, const CallerUsage& usage, bool request,
                               size_t bytes);

// The limit the arrays of the arguments pass: their elements are counted at
// every level, over all arguments; a `v` adds no level. `arguments` is the
// call's tuple, or Invoke's `av`; `request` when the call is a request. Stops looking once a limit
// is passed, so the cost is bounded by the limits, not by the call.
std::optional<Limit> CheckArguments(const Limits& limits, GVariant* arguments, bool request);

}  // namespace qz
