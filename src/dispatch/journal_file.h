// The on-disk form of the request journal. A journal is a folder of files,
// one per daemon run, each written only by the daemon that holds its flock.
// A file is a header and then records:
//   u32 length of the body | u32 CRC-32 of the body | body
//   body = u8 type (1 put, 2 remove) | u64 key | payload (put only)
// A put with a key already present replaces that entry; a remove ends it.
// Zeros may follow the last record (space set aside for the next ones).
// A record that a crash cut short or damaged ends the file for the reader:
// what follows it was never acknowledged. Pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace qz {

inline constexpr std::string_view kJournalFolderName = "QzNotesJournal";
inline constexpr std::string_view kJournalFileSuffix = ".qzj";
inline constexpr std::string_view kJournalHeader = "QZJRNL1\n";

enum class JournalRecordType : uint8_t { kPut = 1, kRemove = 2 };

// The bytes of one record.
std::string FrameRecord(JournalRecordType type, uint64_t key, std::string_view payload = {});

struct JournalEntry {
  uint64_t offset = 0;  // of its record in the file
  uint64_t size = 0;    // of its record
  std::string payload;
};

struct JournalContents {
  std::map<uint64_t, JournalEntry> live;  // puts not replaced or removed, by key
  uint64_t valid_end = 0;                 // where the last whole record ends
  uint64_t dead_bytes = 0;                // records that no longer count
  uint64_t max_key = 0;
  bool torn = false;       // something other than zeros after valid_end
  bool recognised = true;  // false: not a journal file (wrong header)
};

JournalContents ReadJournal(std::string_view bytes);

}  // namespace qz
