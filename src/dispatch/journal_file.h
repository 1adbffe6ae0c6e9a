// The on-disk form of the request journal. A journal is a folder of files,
// one per daemon run, each written only by the daemon that holds its flock.
// A file is a header and then records:
//   header = "QZJRNL2\n" | 8 random bytes (the file's salt)
//   record = u32 length of the body | u32 CRC-32 of the body
//            | u32 CRC-32 of salt and the 8 bytes before it | body
//   body   = u8 type (1 put, 2 remove) | u64 key | payload (put only)
// A put with a key already present replaces that entry; a remove ends it.
// Zeros may follow the last record (space set aside for the next ones).
// Files of the first form ("QZJRNL1\n", then u32 length | u32 CRC | body)
// are still read.
//
// The reader never trusts a length: where a record is damaged it scans on
// byte by byte for the next one whose head and body checks hold, so damage
// costs only the records it hit. The salted head check makes a record
// embedded in a request's own text unreadable as a record, and lets the
// scan reject a position after a few bytes. Files are read through a
// window of fixed size: memory is bounded by the largest record, not the
// file. Pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace qz {

inline constexpr std::string_view kJournalFolderName = "QzNotesJournal";
inline constexpr std::string_view kJournalDamagedFolder = "damaged";
inline constexpr std::string_view kJournalFileSuffix = ".qzj";
inline constexpr size_t kJournalSaltSize = 8;

enum class JournalRecordType : uint8_t { kPut = 1, kRemove = 2 };

// A new file's header, with a fresh random salt.
std::string NewJournalHeader();
// The bytes of one record of the file whose header is `header`.
std::string FrameRecord(std::string_view header, JournalRecordType type, uint64_t key,
                        std::string_view payload = {});
// The size of a remove record, which the writer keeps room for.
inline constexpr uint64_t kJournalRemoveSize = 12 + 9;

struct JournalEntry {
  uint64_t offset = 0;  // of its record in the file
  uint64_t size = 0;    // of its record
  std::string payload;
};

struct JournalContents {
  std::map<uint64_t, JournalEntry> live;  // puts not replaced or removed, by key
  std::string header;                     // as the file begins (empty if not recognised)
  uint64_t valid_end = 0;                 // where the last whole record ends
  uint64_t dead_bytes = 0;                // records that no longer count
  uint64_t max_key = 0;
  uint64_t records = 0;        // whole records read
  uint64_t skipped_bytes = 0;  // damage: bytes no record could be read from
  bool recognised = true;      // false: the header is not a journal's
  bool read_error = false;     // the file could not be read to its end

  // Anything in the file that could not be read.
  bool damaged() const { return !recognised || skipped_bytes > 0 || read_error; }
};

JournalContents ReadJournal(std::string_view bytes);
// The same, from the descriptor (read with pread, from offset 0).
JournalContents ReadJournal(int fd);

}  // namespace qz
