// The DBF data file: header reading and checking, closing with the header
// rewrite, the record-count refresh, record reads and writes, and creating
// a new table.
//
// Layout of the current format (little-endian): a 32-byte prolog (version,
// date of last update as year-1900/month/day, record count u32, header length
// u16, record length u16, 20 bytes kept as they are), 32-byte field
// descriptors (name up to 10 characters ended by NUL, type letter at 11,
// length at 16, decimals at 17), the 0x0D terminator, then the records:
// record n lies at header length + (n - 1) x record length, byte 0 its
// deletion flag ("*" deleted).
//
// The old format (low three version bits 2) has an 8-byte prolog (record
// count u16 at 1, date at 3-5, record length u16 at 6) and up to 32 field
// descriptors of 16 bytes from offset 8, ended by a descriptor whose first
// byte is 0x0D; its records start at 521. We read such tables; a header
// rewrite keeps their format.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "engine/engine_context.h"

namespace vz {

// Reads and checks the header of the table named by area.FileName (messages)
// and area.OpenName (the file), opening it with area.FileMode. On failure the
// error is set, the file closed and the area's buffers released; returns
// false. Its messages end in "[USE/OpenDBF]", as they always have.
bool OpenDbf(WorkArea& area);

// Closes the table file of an area: rewrites the header's date and record
// count when records were changed or appended, and the end-of-file byte
// after appended records.
void CloseDbf(WorkArea& area);

// For an area not opened exclusively: record count := the records the file
// holds now ((file size - header length) div record length, never below 0).
// When the file changed since the last look, the read caches are dropped.
void RefreshRecCount(WorkArea& area);

// The monotonic clock in nanoseconds (coarse: a few milliseconds).
inline std::int64_t CoarseNowNs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// The refresh of steps inside a walk (forward SKIP, dEOF): the file is
// looked at again only when the last look is older than kSharedWindowNs.
// Together with the record cache this keeps a walk of a shared table from
// asking the system twice per record; what other programs write shows
// within that window. The places where the count decides the outcome
// (RecCount, GoBottom, GO beyond the count, the end of a forward SKIP) look
// every time.
inline constexpr std::int64_t kSharedWindowNs = 10'000'000;  // 10 ms
inline void RefreshRecCountSoon(WorkArea& area) {
  if (area.Exclusive || !area.File.IsOpen()) return;
  if (area.CheckedAtNs != 0 && CoarseNowNs() - area.CheckedAtNs < kSharedWindowNs) return;
  RefreshRecCount(area);
}

// Reads record n's bytes as stored: out of the table's mapping, which shows
// what any program writes at once, else through the area's record block
// cache. An exclusive table trusts its cache (its own writes update it). A shared
// table trusts a cached block only while the file is unchanged since the
// block was read, as seen by a look at the file at most kSharedWindowNs
// old; while the file was written within the last 2 x kSharedWindowNs,
// every look counts as a change. Returns 0, a DOS-style code, or 213 for a
// short read.
int ReadRecordBytes(WorkArea& area, std::int64_t n, std::uint8_t* out);

// Copies bytes of the table file out of its mapping, mapping the file (or
// mapping it again when it grew) as needed. False when the mapping cannot
// serve them (no mapping could be made, the bytes lie past the end of the
// file, or the file shrank under the mapping): the caller reads the file.
bool CopyMapped(WorkArea& area, std::uint64_t offset, void* out, std::size_t count);

// A hint that record n will be read soon: its bytes in the mapping are
// asked of the memory ahead of time. Nothing is read and nothing can fail.
inline void PrefetchRecord(const WorkArea& area, std::int64_t n) {
  if (n < 1 || !area.Map.IsMapped()) return;
  const std::uint64_t at = static_cast<std::uint64_t>(area.HeaderLen) +
                           static_cast<std::uint64_t>(n - 1) * area.RecordLen;
  if (at + area.RecordLen > area.Map.Length()) return;
  const std::uint8_t* p = area.Map.Data() + at;
  __builtin_prefetch(p);
  __builtin_prefetch(p + area.RecordLen - 1);
  // To the optimizer a prefetch changes nothing: a caller made only of
  // reads and prefetches would be dropped as dead code. The empty asm with
  // a memory clobber counts as an effect and keeps the hints in place.
  asm volatile("" ::: "memory");
}

// Forgets every cached record of the area (the next reads ask the file).
inline void ForgetCachedRecords(WorkArea& area) {
  ++area.Generation;
}

// Puts bytes just written at `offset` into the area's caches.
void UpdateCaches(WorkArea& area, std::uint64_t offset, const std::uint8_t* bytes, std::size_t n);

// Record count that a file of `size` bytes holds.
std::int64_t RecordsInFile(const WorkArea& area, std::uint64_t size);

// Byte offset of record n (1-based).
inline std::uint64_t RecordOffset(const WorkArea& area, std::int64_t n) {
  return static_cast<std::uint64_t>(area.HeaderLen) +
         static_cast<std::uint64_t>(n - 1) * area.RecordLen;
}

// Writes the prolog's date (today) and record count in the table's format.
// Returns 0 or a DOS-style code.
int WriteHeaderCounts(WorkArea& area);

// A field of a table to be created.
struct FieldSpec {
  std::string Name;
  char Type = 'C';
  int Len = 0;
  int Dec = 0;
};

// Creates a new, empty table (and its memo file when a field has type "M").
// Field names are stored upper-cased. Returns false with the error set.
bool CreateDbf(const std::string& fileName, const std::vector<FieldSpec>& fields);

// Adds the default extension when a file name has none after its last
// directory separator. A name that ends in a dot keeps no extension. The
// extension takes the letter case of the name (".dbf" for a name without
// capital letters, ".DBF" otherwise).
std::string AddDefaultExtension(const std::string& name, const std::string& ext);

}  // namespace vz
