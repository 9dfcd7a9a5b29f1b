#include "index/ndx_cursor.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/index_state.h"
#include "index/indexes.h"
#include "index/ndx_keys.h"
#include "index/ndx_semaphore.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/scope_guard.h"

namespace vz {

void CopyCurrentKey(NdxFile& x) {
  const std::size_t len = static_cast<std::size_t>(x.Anchor.KeyLen());
  if (x.Path.empty() || x.Path.back().Entry >= EntryCount(x.Path.back())) return;
  const WorkArea* t = Engine().Areas.Slot[static_cast<std::size_t>(x.Area)].get();
  if (t && !t->File.Writable()) {
    // A read-only table is never written: its key is worked out when it is
    // needed (see StoreCurrentKeysRaising).
    MarkKeyDue(x);
    return;
  }
  x.CurKey.assign(reinterpret_cast<const char*>(KeyOf(x, x.Path.back(), x.Path.back().Entry)), len);
  MarkKeyWorkedOut(x);
}

[[noreturn]] void Corrupt(const NdxFile& x, const char* where) {
  RaiseIndexError(222, "Corrupted index file: " + x.Name + " [" + where + "]");
}

void PushNode(NdxFile& x, std::int32_t node, int entryHint) {
  if (x.Path.size() >= kMaxDepth) Corrupt(x, "GetNode");
  for (const PathLevel& l : x.Path)
    if (l.Node == node) Corrupt(x, "GetNode");  // a cycle of child pointers
  // The node is read straight into its level.
  x.Path.emplace_back();
  ScopeGuard dropOnFailure([&] { x.Path.pop_back(); });
  PathLevel& level = x.Path.back();
  ReadNode(x, node, level.Image.data());
  dropOnFailure.Dismiss();
  level.Node = node;
  level.Entry = entryHint;
}

std::int32_t ChildAt(const NdxFile& x, const PathLevel& l, int i) {
  return i < EntryCount(l) ? EntryChild(EntryOf(x, l, i)) : RightChild(x, l.Image.data());
}

// Follows first (or right-most) children from `node` down to a leaf.
void DescendEdge(NdxFile& x, std::int32_t node, bool first) {
  for (;;) {
    PushNode(x, node, 0);
    PathLevel& l = x.Path.back();
    const int c = EntryCount(l);
    if (IsLeaf(l.Image.data())) {
      l.Entry = first ? 0 : std::max(0, c - 1);
      return;
    }
    l.Entry = first ? 0 : c;
    node = ChildAt(x, l, l.Entry);
  }
}

namespace {

// True when the leaf was not met before in this walk.
bool MarkLeaf(NdxFile& x, std::int32_t node) {
  if (node < 0) return false;
  const auto at = static_cast<std::size_t>(node);
  if (at >= x.LeafStamps.size())
    x.LeafStamps.resize(std::max<std::size_t>(at + 1, static_cast<std::size_t>(x.Blocks)), 0);
  if (x.LeafStamps[at] == x.RunStamp) return false;
  x.LeafStamps[at] = x.RunStamp;
  return true;
}

void NewRun(NdxFile& x) {
  if (++x.RunStamp == 0) {
    // The stamps went round: forget every old one.
    std::fill(x.LeafStamps.begin(), x.LeafStamps.end(), 0);
    x.RunStamp = 1;
  }
}

}  // namespace

// Notes the leaf a step arrived at, coming from leaf `from`. A walk in one
// direction meets each leaf once: meeting one again means a damaged file
// whose nodes are shared by several parents (the walk would repeat itself,
// or go on for ever).
void EnterLeaf(NdxFile& x, int direction, std::int32_t from) {
  if (direction != x.RunDirection) {
    x.RunDirection = direction;
    NewRun(x);
    MarkLeaf(x, from);
  }
  if (!MarkLeaf(x, x.Path.back().Node)) Corrupt(x, "_FindNextRec");
}

void StartRun(NdxFile& x) {
  x.RunDirection = 0;
  NewRun(x);
}

// Records a walk in key order will read a few steps on are asked of the
// memory ahead (the table's order is not the key order: each read would
// otherwise wait for its own).
constexpr int kPrefetchAhead = 16;

void PrefetchFrom(const NdxFile& x, int from, int direction) {
  const WorkArea* t = Engine().Areas.Slot[static_cast<std::size_t>(x.Area)].get();
  if (!t || x.Path.empty()) return;
  const PathLevel& leaf = x.Path.back();
  const int count = EntryCount(leaf);
  const int first = from == leaf.Entry ? 1 : kPrefetchAhead;
  for (int k = first; k <= kPrefetchAhead; ++k) {
    const int e = leaf.Entry + direction * k;
    if (e < 0 || e >= count) break;
    PrefetchRecord(*t, EntryRecord(EntryOf(x, leaf, e)));
  }
}

// One entry forward (kForward) or back (kBackward); false at the end of the
// index in that direction, where the position stays where it was.
bool Step(NdxFile& x, int direction) {
  if (x.Path.empty()) return false;
  PathLevel& leaf = x.Path.back();
  if (direction > 0 ? leaf.Entry + 1 < EntryCount(leaf)
                    : leaf.Entry > 0 && leaf.Entry <= EntryCount(leaf)) {
    leaf.Entry += direction;
    PrefetchFrom(x, leaf.Entry - direction, direction);
    return true;
  }
  // Up to the nearest node with a child beyond this one, then down its near
  // edge (past leaves that hold nothing). Meeting the end after passing
  // such leaves puts the path back where the step started.
  std::vector<std::pair<std::int32_t, int>>& start = x.StepStart;
  start.clear();
  const std::int32_t from = leaf.Node;
  std::size_t level = x.Path.size() - 1;
  while (level > 0) {
    PathLevel& p = x.Path[--level];
    if (direction > 0 ? p.Entry >= EntryCount(p) : p.Entry <= 0) continue;
    if (start.empty())
      for (const PathLevel& l : x.Path) start.emplace_back(l.Node, l.Entry);
    p.Entry += direction;
    x.Path.resize(level + 1);
    DescendEdge(x, ChildAt(x, p, p.Entry), direction > 0);
    EnterLeaf(x, direction, from);
    if (EntryCount(x.Path.back()) > 0) {
      PrefetchFrom(x, x.Path.back().Entry, direction);
      return true;
    }
    level = x.Path.size() - 1;
  }
  if (!start.empty()) {
    x.Path.clear();
    for (const auto& [node, entry] : start) PushNode(x, node, entry);
  }
  return false;
}

// First or last entry; false when the index holds none.
bool PlaceAtEdge(NdxFile& x, bool first) {
  x.Path.clear();
  StartRun(x);
  DescendEdge(x, x.Anchor.Root(), first);
  x.Positioned = true;
  if (EntryCount(x.Path.back()) > 0) return true;
  return Step(x, first ? kForward : kBackward);
}

// The key search. Positions on the first entry whose key is at least `key`
// (over the full key length). A key above every key moves on to the next
// entry (EOF when there is none), or in insert mode stays past the last
// entry. Returns false at EOF.
bool Descend(NdxFile& x, const std::uint8_t* key, bool insertMode, bool after) {
  x.Path.clear();
  StartRun(x);
  x.Bof = x.Eof = false;
  x.Positioned = true;
  std::int32_t node = x.Anchor.Root();
  for (;;) {
    PushNode(x, node, 0);
    PathLevel& l = x.Path.back();
    const int count = EntryCount(l);
    int lo = 0, hi = count;
    while (lo < hi) {
      const int mid = (lo + hi) / 2;
      const int c = KeyCompare(x, KeyOf(x, l, mid), key);
      if (after ? c > 0 : c >= 0)
        hi = mid;
      else
        lo = mid + 1;
    }
    l.Entry = lo;
    if (!IsLeaf(l.Image.data())) {
      node = ChildAt(x, l, lo);
      continue;
    }
    if (lo < count) return true;
    if (insertMode) return true;  // past the last entry
    if (count == 0) {
      if (!Step(x, kForward)) {
        x.Eof = true;
        return false;
      }
      return true;
    }
    l.Entry = count - 1;
    if (!Step(x, kForward)) {
      x.Eof = true;
      return false;
    }
    return true;
  }
}

// Brings the index back onto the entry of its current key and the table's
// record (after the path was lost). True when it stands on that entry; false
// when the entry is gone (another program changed the record): it then
// stands on the entry that follows the record's place (Eof when none does).
bool Reposition(NdxFile& x, std::int64_t recNo) {
  if (KeyDue(x)) {
    if (const WorkArea* t = CurrentTable()) StoreKeyOf(x, *t);
  }
  const std::string key = x.CurKey;
  const auto* k = reinterpret_cast<const std::uint8_t*>(key.data());
  if (static_cast<int>(key.size()) < x.Anchor.KeyLen()) {
    if (!PlaceAtEdge(x, true)) x.Eof = true;
    return false;
  }
  if (!Descend(x, k, false)) return false;
  for (;;) {
    if (KeyCompare(x, KeyOf(x, x.Path.back(), x.Path.back().Entry), k) != 0) return false;
    const std::int64_t r = CurrentRecord(x);
    if (r == recNo) return true;
    if (r > recNo) return false;  // equal keys ascend by record number
    if (!Step(x, kForward)) {
      x.Eof = true;
      return false;
    }
  }
}

// The record number of the current entry, checked against the table: an
// entry naming a record past the table's last one (after a fresh look at
// the file, where another program may just have appended) means the index
// belongs to another state of the table: it is damaged.
std::int64_t CheckedRecordPastCount(const NdxFile& x, std::int64_t r, const char* where) {
  WorkArea* t = CurrentTable();
  if (!t || r == 0) return r;
  if (r > t->RecCount) RefreshRecCount(*t);
  if (r < 0 || r > t->RecCount)
    RaiseIndexError(222, "Corrupted index file: " + x.Name + " (record " + Str(r) +
                             " past the end of " + t->FileName + ", " + Str(t->RecCount) +
                             " records) [" + where + "]");
  return r;
}

// Reads the current record again from the file (not from what was read of
// it before); false when that fails. The error state stays as it was.
bool ReadRecordAgain(WorkArea& t) {
  const std::uint16_t code = Engine().Errors.ErrorCode, message = Engine().Errors.MessageCode;
  const std::string detail = Engine().Errors.ErrorDetail;
  const bool undispatched = Engine().Errors.Undispatched;
  bool read;
  {
    ScopedErrorDispatch quiet(false);
    ForgetCachedRecords(t);
    read = GetDbfRecord(t, t.RecNo);
    if (read) Unpack(t);
  }
  Engine().Errors.ErrorCode = code;
  Engine().Errors.MessageCode = message;
  Engine().Errors.ErrorDetail = detail;
  Engine().Errors.Undispatched = undispatched;
  return read;
}

// Positions one index on the table's current record.
void SyncOne(NdxFile& x, WorkArea& t, const char* zero, const char* one, const char* two) {
  if (t.RecNo < 1 || t.RecNo > t.RecCount || t.RecCount == 0) {
    x.Eof = true;
    return;
  }
  std::string key = ComputeKey(x, t.Oem);
  if (!FitComputedKey(x, key)) RaiseIndexError(266, LengthMessage(x, key, zero));
  if (KeyDue(x)) {
    // The record as it was read: its key is the last known one, should the
    // record be read again below and its entry not be found.
    x.CurKey = key;
    MarkKeyWorkedOut(x);
  }
  const std::uint8_t* k = reinterpret_cast<const std::uint8_t*>(key.data());
  auto matches = [&] {
    return !x.Eof && !x.Path.empty() &&
           KeyCompare(x, KeyOf(x, x.Path.back(), x.Path.back().Entry), k) == 0;
  };
  Descend(x, k, false);
  if (!matches()) Descend(x, k, false);
  if (!matches() && SharedUse(t)) {
    // Another program may have changed the record after it was read here:
    // the index holds its new key, or soon will (a writer stores the
    // record before the keys). Read the record and the anchor again, and
    // give the other program a moment to finish (10 ms a try).
    for (int attempt = 0; attempt < IndexEngine().SyncAttempts && !matches(); ++attempt) {
      if (attempt > 0) platform::PauseBeforeRetry(std::chrono::milliseconds(10));
      if (!ReadRecordAgain(t)) break;
      key = ComputeKey(x, t.Oem);
      if (!FitComputedKey(x, key)) RaiseIndexError(266, LengthMessage(x, key, zero));
      k = reinterpret_cast<const std::uint8_t*>(key.data());
      ReadAnchor(x);
      Descend(x, k, false);
    }
  }
  if (!matches())
    RaiseIndexError(212, "Key: \"" + key + "\" not in index: " + x.Name + ". [" + one +
                             "] Record: " + Str(t.RecNo));
  if (!x.Anchor.Unique()) {
    while (CurrentRecord(x) != t.RecNo) {
      if (!Step(x, kForward) || !matches())
        RaiseIndexError(
            212, "Record with key: \"" + key + "\" not in index: " + x.Name + ". [" + two + "]");
    }
  }
  x.Bof = x.Eof = false;
  x.CurKey = key;
  MarkKeyWorkedOut(x);
}

// Runs an index operation for a hook: a failure ends the move as the end of
// the index and leaves the index's error stored for the move to report.
std::int64_t DispatchedMove(std::int64_t (*move)()) {
  try {
    return move();
  } catch (const IndexError&) {
    DispatchPending();
    return 0;
  }
}

// Delivers the entry the index stands on after a move: its key kept as
// the current one, its record number checked; `found` tells whether the
// move reached an entry.
std::int64_t DeliverEntry(NdxFile& x, bool found, const char* where) {
  IndexEngine().Settings.Found = found;
  CopyCurrentKey(x);
  return CheckedRecord(x, CurrentRecord(x), where);
}

// The first (or last) entry of the controlling index, its key kept as the
// current one; 0 with BOF and EOF set when the index is empty.
std::int64_t FindEdgeRaising(bool first) {
  NdxFile* x = ControllingIndex();
  if (!x)
    RaiseIndexError(221,
                    first ? "Index not open. [_FindFirstRec]" : "Index not open. [_FindLastRec]");
  if (!PlaceAtEdge(*x, first)) {
    x->Bof = x->Eof = true;
    IndexEngine().Settings.Found = false;
    return 0;
  }
  x->Bof = x->Eof = false;
  return DeliverEntry(*x, true, first ? "_FindFirstRec" : "_FindLastRec");
}

std::int64_t FindFirstRaising() {
  return FindEdgeRaising(true);
}
std::int64_t FindLastRaising() {
  return FindEdgeRaising(false);
}

std::int64_t FindNextRaising() {
  WorkArea* t = CurrentTable();
  AreaIndexes& a = CurrentAreaIndexes();
  NdxFile* x = a.Natural ? nullptr : a.Work[1];
  if (!t) return 0;
  if (t->RecCount == 0) {
    if (x) x->Bof = x->Eof = true;
    return 0;
  }
  if (!x) return t->RecNo < t->RecCount ? t->RecNo + 1 : t->RecNo;
  x->Bof = false;
  if (x->Eof) {
    if (!PlaceAtEdge(*x, false)) return 0;
    x->Eof = true;
    return CheckedRecord(*x, CurrentRecord(*x), "_FindNextRec");
  }
  if (!x->Positioned || x->Path.empty()) {
    // The position was lost: when the record's entry is gone, the entry
    // that follows its place is the next one.
    if (!Reposition(*x, t->RecNo)) {
      if (x->Eof) return t->RecNo;  // nothing follows: the end
      return DeliverEntry(*x, true, "_FindNextRec");
    }
  }
  if (!Step(*x, kForward)) x->Eof = true;
  return DeliverEntry(*x, !x->Eof, "_FindNextRec");
}

std::int64_t FindPriorRaising() {
  WorkArea* t = CurrentTable();
  AreaIndexes& a = CurrentAreaIndexes();
  NdxFile* x = a.Natural ? nullptr : a.Work[1];
  if (!t) return 0;
  if (t->RecCount == 0) {
    if (x) x->Bof = x->Eof = true;
    return 0;
  }
  if (!x) return t->RecNo > 1 ? t->RecNo - 1 : t->RecNo;
  if (x->Bof) return CheckedRecord(*x, CurrentRecord(*x), "_FindPriorRec");
  const bool onRecord = t->RecNo >= 1 && t->RecNo <= t->RecCount;
  if (!x->Eof && onRecord && (!x->Positioned || x->Path.empty())) {
    // The position was lost: the entry before the record's place is the
    // prior one (the last entry when every key is below the record's).
    Reposition(*x, t->RecNo);
  }
  if (x->Eof || !x->Positioned || x->Path.empty()) {
    // From past the end (or a position never set) the last entry comes first.
    x->Eof = false;
    if (!PlaceAtEdge(*x, false)) return 0;
    return DeliverEntry(*x, true, "_FindPriorRec");
  }
  if (!Step(*x, kBackward)) x->Bof = true;
  return DeliverEntry(*x, !x->Bof, "_FindPriorRec");
}

// A public move of the controlling index: a failure is dispatched as an
// engine error, and the move delivers no record.
std::int64_t FindFirstRecord() {
  return DispatchedMove(FindFirstRaising);
}
std::int64_t FindLastRecord() {
  return DispatchedMove(FindLastRaising);
}
std::int64_t FindNextRecord() {
  return DispatchedMove(FindNextRaising);
}
std::int64_t FindPriorRecord() {
  return DispatchedMove(FindPriorRaising);
}

bool Find(const std::string& text) {
  ClearError();
  const std::string k = text.substr(0, 100);
  WorkArea* t = CurrentTable();
  bool found = false;
  bool reading = false;
  try {
    if (!t) RaiseIndexError(215, " [Find]");
    AreaIndexes& a = CurrentAreaIndexes();
    if (a.Natural)
      RaiseIndexError(254, "Cannot use Find() with index order 0 (natural order) [Find]");
    NdxFile* x = a.Work[1];
    if (!x)
      RaiseIndexError(
          221, "Index not open. while searching for " + k + " in " + t->FileName + " [Find]");
    IndexEngine().Settings.Found = false;
    if (!x->Positioned && !PlaceAtEdge(*x, true)) return false;
    if (x->CharKey && k.empty()) return false;
    if (t->RecCount == 0) return false;
    const bool exact = IndexEngine().Settings.ExactFind;
    const std::string key = SearchKey(*x, k, exact, t->Oem);
    std::string full = key;
    full.resize(static_cast<std::size_t>(x->Anchor.KeyLen()), '\0');
    BeginRead();
    reading = true;
    if (!Descend(*x, reinterpret_cast<const std::uint8_t*>(full.data()), false)) {
      // Past every key: step back onto the last entry.
      x->Eof = false;
      if (!PlaceAtEdge(*x, false)) x->Eof = true;
    }
    std::int64_t r = CheckedRecord(*x, CurrentRecord(*x), "Find");
    if (r >= 1) RawGo(r);
    while (!x->Eof && t->RecNo >= 1 && t->RecNo <= t->RecCount && !IsVisible(*t)) {
      if (!Step(*x, kForward)) {
        x->Eof = true;
        break;
      }
      r = CheckedRecord(*x, CurrentRecord(*x), "Find");
      RawGo(r);
    }
    // Outside exact mode a character search is a prefix search.
    const std::size_t n =
        std::min(key.size(),
                 x->CharKey && !exact ? key.size() : static_cast<std::size_t>(x->Anchor.KeyLen()));
    // Numeric and date keys match by value (0 and -0 are one number).
    found = !x->Eof && !x->Path.empty() &&
            (x->CharKey
                 ? std::memcmp(KeyOf(*x, x->Path.back(), x->Path.back().Entry), key.data(), n) == 0
                 : KeyCompare(*x, KeyOf(*x, x->Path.back(), x->Path.back().Entry),
                              reinterpret_cast<const std::uint8_t*>(key.data())) == 0);
    if (found) {
      IndexEngine().Settings.Found = true;
      StoreCurrentKeysRaising();
    } else {
      x->Eof = true;
      x->Path.clear();
      x->Positioned = false;
      t->RecNo = t->RecCount + 1;
      t->Eof = true;
      BlankNative(*t);
    }
    EndRead();
    reading = false;
  } catch (const IndexError&) {
    if (reading) {
      try {
        EndRead();
      } catch (const IndexError&) {
      }
    }
    DispatchPending();
    return false;
  }
  return found;
}

void SyncIndexRaising() {
  WorkArea* t = CurrentTable();
  if (!t) return;
  AreaIndexes& a = CurrentAreaIndexes();
  ScopedSetting<bool> keyOrder(a.Natural, false);
  const int last = IndexEngine().Settings.AllOrders ? kMaxOrders : 1;
  for (int i = 1; i <= last; ++i) {
    NdxFile* x = a.Work[static_cast<std::size_t>(i)];
    if (x) SyncOne(*x, *t, "SyncIndex-0", "SyncIndex-1", "SyncIndex-2");
  }
}

void SoftSyncIndexRaising() {
  WorkArea* t = CurrentTable();
  NdxFile* x = ControllingIndex();
  if (!t || !x) return;
  if (t->RecNo > t->RecCount) {
    x->Eof = true;
    return;
  }
  const std::uint16_t code = Engine().Errors.ErrorCode, message = Engine().Errors.MessageCode;
  const std::string detail = Engine().Errors.ErrorDetail;
  const bool undispatched = Engine().Errors.Undispatched;
  const auto restore = [&] {
    Engine().Errors.ErrorCode = code;
    Engine().Errors.MessageCode = message;
    Engine().Errors.ErrorDetail = detail;
    Engine().Errors.Undispatched = undispatched;
  };
  try {
    SyncOne(*x, *t, "SoftSyncIndex", "SoftSyncIndex", "SoftSyncIndex");
    return;
  } catch (const IndexError&) {
    if (Engine().Errors.ErrorCode != 212) throw;
    restore();
  }
  // Another program changed the current record's key: the record in memory
  // is older than the index. Read it again and stand on its present entry.
  bool read = false;
  {
    ScopedErrorDispatch quiet(false);
    if (GetDbfRecord(*t, t->RecNo)) {
      Unpack(*t);
      read = true;
    }
  }
  restore();
  if (read) {
    try {
      SyncOne(*x, *t, "SoftSyncIndex", "SoftSyncIndex", "SoftSyncIndex");
      return;
    } catch (const IndexError&) {
      if (Engine().Errors.ErrorCode != 212) throw;
      restore();
    }
  }
  // Not in the index either way: the next move finds its place from the
  // record's last known key.
  x->Path.clear();
  x->Positioned = false;
  x->Bof = x->Eof = false;
}

void SyncIndex() {
  try {
    SyncIndexRaising();
  } catch (const IndexError&) {
    DispatchPending();
  }
}

void SoftSyncIndex() {
  try {
    SoftSyncIndexRaising();
  } catch (const IndexError&) {
    DispatchPending();
  }
}

}  // namespace vz
