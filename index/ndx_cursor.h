// Moving in key order: the descent from the root to a key, steps to the
// next and prior entry, the edges, finding the place of the current record
// again, the moves of the controlling index the storage engine makes
// through its hooks, and Find.
#pragma once

#include <cstdint>
#include <string>

#include "engine/dbf_file.h"
#include "index/index_state.h"

namespace vz {

// The entries of a level of the path.
inline int EntryCount(const PathLevel& l) {
  return NodeCount(l.Image.data());
}
inline const std::uint8_t* EntryOf(const NdxFile& x, const PathLevel& l, int i) {
  return EntryAt(x, l.Image.data(), i);
}
inline const std::uint8_t* KeyOf(const NdxFile& x, const PathLevel& l, int i) {
  return EntryOf(x, l, i) + 8;
}

// The record number of the current entry; 0 when there is none.
inline std::int64_t CurrentRecord(const NdxFile& x) {
  if (x.Path.empty()) return 0;
  const PathLevel& leaf = x.Path.back();
  if (leaf.Entry < 0 || leaf.Entry >= EntryCount(leaf)) return 0;
  return EntryRecord(EntryOf(x, leaf, leaf.Entry));
}
// Keeps the current entry's key as the index's key of the current record.
void CopyCurrentKey(NdxFile& x);

// The directions of a step.
inline constexpr int kForward = 1;
inline constexpr int kBackward = -1;
// One entry forward (kForward) or back (kBackward); false at the end of the
// index in that direction, where the position stays where it was.
bool Step(NdxFile& x, int direction);
// First or last entry; false when the index holds none.
bool PlaceAtEdge(NdxFile& x, bool first);
// The key search. Positions on the first entry whose key is at least `key`
// (over the full key length). A key above every key moves on to the next
// entry (EOF when there is none), or in insert mode stays past the last
// entry. Returns false at EOF.
bool Descend(NdxFile& x, const std::uint8_t* key, bool insertMode, bool after = false);
// Brings the index back onto the entry of its current key and the table's
// record (after the path was lost). True when it stands on that entry; false
// when the entry is gone (another program changed the record): it then
// stands on the entry that follows the record's place (Eof when none does).
bool Reposition(NdxFile& x, std::int64_t recNo);
// CheckedRecord's case of a record outside the count known (out of line).
std::int64_t CheckedRecordPastCount(const NdxFile& x, std::int64_t r, const char* where);
// The record number of the current entry, checked against the table: an
// entry naming a record past the table's last one (after a fresh look at
// the file, where another program may just have appended) means the index
// belongs to another state of the table: it is damaged.
inline std::int64_t CheckedRecord(const NdxFile& x, std::int64_t r, const char* where) {
  const WorkArea* t = CurrentTable();
  if (!t || r == 0 || (r > 0 && r <= t->RecCount)) return r;
  return CheckedRecordPastCount(x, r, where);
}
// Looks at the table's record count again when r lies past it.
inline void RefreshForRecord(WorkArea& t, std::int64_t r) {
  if (r > t.RecCount) RefreshRecCount(t);
}

// Positions one index on the table's current record (the texts name the
// caller in the messages of its three failures).
void SyncOne(NdxFile& x, WorkArea& t, const char* zero, const char* one, const char* two);

// SyncIndex, SoftSyncIndex and StoreCurrentKeys as the index engine uses
// them itself: a failure leaves its error stored and raises IndexError
// for the caller to decide on. The public procedures dispatch it.
void SyncIndexRaising();
void SoftSyncIndexRaising();
// The moves of the controlling index in the same way: the record number
// of the first, last, next and prior entry.
std::int64_t FindFirstRaising();
std::int64_t FindLastRaising();
std::int64_t FindNextRaising();
std::int64_t FindPriorRaising();

// Runs a move for a public entry point: a failure is dispatched as an
// engine error, and the move delivers no record.
std::int64_t DispatchedMove(std::int64_t (*move)());

}  // namespace vz
