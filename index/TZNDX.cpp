#include "index/TZNDX.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "engine/Dbf4.h"
#include "engine/Memo.h"
#include "engine/TZDbfLow.h"
#include "engine/TimeDate.h"
#include "engine/tzmsg.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace vz {
namespace {

// SyncIndex, SoftSyncIndex and StoreCurrentKeys as the index engine uses
// them itself: a failure leaves its error stored and raises IndexFailure
// for the caller to decide on. The public procedures dispatch it.
void SyncIndexRaising();
void SoftSyncIndexRaising();
void StoreCurrentKeysRaising(bool whenNeeded = false);
void StoreKeyOf(IND& x, const WorkArea& t);
// The same for the moves of the controlling index (_FindFirstRec ...).
std::int64_t FindFirstRaising();
std::int64_t FindLastRaising();
std::int64_t FindNextRaising();
std::int64_t FindPriorRaising();

// Marks the index whose open is positioning the table: its key check is the
// open's own, so the moves of that positioning leave its key alone.
struct OpeningScope {
  explicit OpeningScope(const IND* x) { IndexEngine().Opening = x; }
  ~OpeningScope() { IndexEngine().Opening = nullptr; }
  OpeningScope(const OpeningScope&) = delete;
  OpeningScope& operator=(const OpeningScope&) = delete;
};

AreaIndexes& Here() {
  return IndexEngine().Areas[static_cast<std::size_t>(Engine().Areas.Current)];
}

IND* Controlling() {
  AreaIndexes& a = Here();
  return a.Natural ? nullptr : a.Work[1];
}

void RebuildWork(AreaIndexes& a) {
  for (int i = 0; i <= kMaxOrders; ++i) a.Work[static_cast<std::size_t>(i)] = i ? a.Opened[static_cast<std::size_t>(i)].get() : nullptr;
  if (a.LastOrder > 1 && a.Opened[static_cast<std::size_t>(a.LastOrder)])
    std::swap(a.Work[1], a.Work[static_cast<std::size_t>(a.LastOrder)]);
}

// --- Positions ---------------------------------------------------------------------

int Count(const PathLevel& l) { return NodeCount(l.image.data()); }
const std::uint8_t* EntryOf(const IND& x, const PathLevel& l, int i) { return EntryAt(x, l.image.data(), i); }
const std::uint8_t* KeyOf(const IND& x, const PathLevel& l, int i) { return EntryOf(x, l, i) + 8; }

std::int64_t CurrentRecord(const IND& x) {
  if (x.Path.empty()) return 0;
  const PathLevel& leaf = x.Path.back();
  if (leaf.entry < 0 || leaf.entry >= Count(leaf)) return 0;
  return EntryRecord(EntryOf(x, leaf, leaf.entry));
}

void CopyCurrentKey(IND& x) {
  const std::size_t len = static_cast<std::size_t>(x.Anchor.KeyLen());
  if (x.Path.empty() || x.Path.back().entry >= Count(x.Path.back())) return;
  const WorkArea* t = Engine().Areas.Slot[static_cast<std::size_t>(x.Area)].get();
  if (t && !t->File.Writable()) {
    // A read-only table is never written: its key is worked out when it is
    // needed (see StoreCurrentKeysRaising).
    MarkKeyDue(x);
    return;
  }
  x.CurKey.assign(reinterpret_cast<const char*>(KeyOf(x, x.Path.back(), x.Path.back().entry)), len);
  MarkKeyWorkedOut(x);
}

[[noreturn]] void Corrupt(const IND& x, const char* where) {
  IndexRaise(222, "Corrupted index file: " + x.Name + " [" + where + "]");
}

void PushNode(IND& x, std::int32_t node, int entryHint) {
  if (x.Path.size() >= kMaxDepth) Corrupt(x, "GetNode");
  for (const PathLevel& l : x.Path)
    if (l.node == node) Corrupt(x, "GetNode");  // a cycle of child pointers
  PathLevel level;
  level.node = node;
  SeekAndRead(x, node, level.image.data());
  level.entry = entryHint;
  x.Path.push_back(level);
}

std::int32_t ChildAt(const IND& x, const PathLevel& l, int i) {
  return i < Count(l) ? EntryChild(EntryOf(x, l, i)) : RightChild(x, l.image.data());
}

// Follows first (or right-most) children from `node` down to a leaf.
void DescendEdge(IND& x, std::int32_t node, bool first) {
  for (;;) {
    PushNode(x, node, 0);
    PathLevel& l = x.Path.back();
    const int c = Count(l);
    if (IsLeaf(l.image.data())) {
      l.entry = first ? 0 : std::max(0, c - 1);
      return;
    }
    l.entry = first ? 0 : c;
    node = ChildAt(x, l, l.entry);
  }
}

// Notes the leaf a step arrived at, coming from leaf `from`. A walk in one
// direction meets each leaf once: meeting one again means a damaged file
// whose nodes are shared by several parents (the walk would repeat itself,
// or go on for ever).
void EnterLeaf(IND& x, int direction, std::int32_t from) {
  if (direction != x.RunDirection) {
    x.RunDirection = direction;
    x.RunLeaves.clear();
    x.RunLeaves.insert(from);
  }
  if (!x.RunLeaves.insert(x.Path.back().node).second || x.RunLeaves.size() > x.Blocks)
    Corrupt(x, "_FindNextRec");
}

void StartRun(IND& x) {
  x.RunDirection = 0;
  x.RunLeaves.clear();
}

// Records a walk in key order will read a few steps on are asked of the
// memory ahead (the table's order is not the key order: each read would
// otherwise wait for its own).
constexpr int kPrefetchAhead = 8;

void PrefetchFrom(const IND& x, int from, int direction) {
  const WorkArea* t = Engine().Areas.Slot[static_cast<std::size_t>(x.Area)].get();
  if (!t || x.Path.empty()) return;
  const PathLevel& leaf = x.Path.back();
  const int count = Count(leaf);
  const int first = from == leaf.entry ? 1 : kPrefetchAhead;
  for (int k = first; k <= kPrefetchAhead; ++k) {
    const int e = leaf.entry + direction * k;
    if (e < 0 || e >= count) break;
    PrefetchRecord(*t, EntryRecord(EntryOf(x, leaf, e)));
  }
}

// One entry forward (direction 1) or back (-1); false at the end of the
// index in that direction, where the position stays where it was.
bool Step(IND& x, int direction) {
  if (x.Path.empty()) return false;
  PathLevel& leaf = x.Path.back();
  if (direction > 0 ? leaf.entry + 1 < Count(leaf) : leaf.entry > 0 && leaf.entry <= Count(leaf)) {
    leaf.entry += direction;
    PrefetchFrom(x, leaf.entry - direction, direction);
    return true;
  }
  // Up to the nearest node with a child beyond this one, then down its near
  // edge (past leaves that hold nothing). The path is kept to be put back
  // at the end; its buffer is reused from step to step.
  std::vector<PathLevel>& saved = x.SavedPath;
  saved = x.Path;
  for (;;) {
    x.Path.pop_back();
    if (x.Path.empty()) {
      x.Path.swap(saved);
      return false;
    }
    PathLevel& p = x.Path.back();
    if (direction > 0 ? p.entry < Count(p) : p.entry > 0) {
      p.entry += direction;
      DescendEdge(x, ChildAt(x, p, p.entry), direction > 0);
      EnterLeaf(x, direction, saved.back().node);
      if (Count(x.Path.back()) > 0) {
        PrefetchFrom(x, x.Path.back().entry, direction);
        return true;
      }
    }
  }
}

bool StepForward(IND& x) { return Step(x, 1); }
bool StepBackward(IND& x) { return Step(x, -1); }

// First or last entry; false when the index holds none.
bool PlaceAtEdge(IND& x, bool first) {
  x.Path.clear();
  StartRun(x);
  DescendEdge(x, x.Anchor.Root(), first);
  x.Positioned = true;
  if (Count(x.Path.back()) > 0) return true;
  return first ? StepForward(x) : StepBackward(x);
}

// The key search. Positions on the first entry whose key is at least `key`
// (over the full key length). A key above every key moves on to the next
// entry (EOF when there is none), or in insert mode stays past the last
// entry. Returns false at EOF.
bool Descend(IND& x, const std::uint8_t* key, bool insertMode, bool after = false) {
  x.Path.clear();
  StartRun(x);
  x.Bof = x.Eof = false;
  x.Positioned = true;
  std::int32_t node = x.Anchor.Root();
  for (;;) {
    PushNode(x, node, 0);
    PathLevel& l = x.Path.back();
    const int count = Count(l);
    int lo = 0, hi = count;
    while (lo < hi) {
      const int mid = (lo + hi) / 2;
      const int c = KeyCompare(x, KeyOf(x, l, mid), key);
      if (after ? c > 0 : c >= 0) hi = mid;
      else lo = mid + 1;
    }
    l.entry = lo;
    if (!IsLeaf(l.image.data())) {
      node = ChildAt(x, l, lo);
      continue;
    }
    if (lo < count) return true;
    if (insertMode) return true;  // past the last entry
    if (count == 0) {
      if (!StepForward(x)) {
        x.Eof = true;
        return false;
      }
      return true;
    }
    l.entry = count - 1;
    if (!StepForward(x)) {
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
bool Reposition(IND& x, std::int64_t recNo) {
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
    if (KeyCompare(x, KeyOf(x, x.Path.back(), x.Path.back().entry), k) != 0) return false;
    const std::int64_t r = CurrentRecord(x);
    if (r == recNo) return true;
    if (r > recNo) return false;  // equal keys ascend by record number
    if (!StepForward(x)) {
      x.Eof = true;
      return false;
    }
  }
}

// Brings a character key computed for the current record to the key
// length, as the build stores it: a short one (TRIM(NAME), a shorter field)
// is padded with blanks, a long one cut. False when the key cannot belong to
// this index: a plain field's text longer than the key length means the
// field was widened after the build. (The texts of other expressions vary in
// length from record to record, and the build cut them the same way.)
bool FitComputedKey(const IND& x, std::string& key) {
  if (!x.CharKey) return true;
  const std::size_t len = static_cast<std::size_t>(x.Anchor.KeyLen());
  if (key.size() > len && x.Expr && x.Expr->Width() > 0) return false;
  key = FitKey(key, x.Anchor.KeyLen());
  return true;
}

// The record number of the current entry, checked against the table: an
// entry naming a record past the table's last one (after a fresh look at
// the file, where another program may just have appended) means the index
// belongs to another state of the table: it is damaged.
std::int64_t CheckedRecord(const IND& x, std::int64_t r, const char* where) {
  WorkArea* t = CurrentTable();
  if (!t || r == 0) return r;
  if (r > t->RecCount) RefreshRecCount(*t);
  if (r < 0 || r > t->RecCount)
    IndexRaise(222, "Corrupted index file: " + x.Name + " (record " + Str(r) + " past the end of " +
                        t->FileName + ", " + Str(t->RecCount) + " records) [" + where + "]");
  return r;
}

// A character key of the wrong length.
std::string LengthMessage(const IND& x, const std::string& key, const char* where) {
  char width[8];
  std::snprintf(width, sizeof width, "%3d", x.Anchor.KeyLen());
  return std::string("Incorrect key length: Must be 1 to 100.") + "\n\r" + "Expected Length= " + width +
         "\n\r" + "Key= [" + key + "] " + x.Name + " [" + where + "]";
}

void RefreshForRecord(WorkArea& t, std::int64_t r) {
  if (r > t.RecCount) RefreshRecCount(t);
}

// --- Semaphores around moves -----------------------------------------------------------

void ReReadAnchors(WorkArea& t) {
  AreaIndexes& a = Here();
  for (int i = 1; i <= kMaxOrders; ++i)
    if (a.Opened[static_cast<std::size_t>(i)]) ReadAnchor(*a.Opened[static_cast<std::size_t>(i)]);
  for (NodeCache::Slot& s : a.Cache.Slots) s.used = false;
  (void)t;
}

void BeginRead() {
  WorkArea* t = CurrentTable();
  if (!t || !SharedUse(*t)) return;
  AreaIndexes& a = Here();
  if (!a.Sem.LoggedIn) return;
  if (HandleSemafore(*t, a, SemaphoreAction::IncRead)) {
    ReReadAnchors(*t);
    SoftSyncIndexRaising();
  }
}

void EndRead() {
  WorkArea* t = CurrentTable();
  if (!t || !SharedUse(*t)) return;
  AreaIndexes& a = Here();
  if (!a.Sem.LoggedIn) return;
  if (a.Sem.Reads > 0) {
    --a.Sem.Reads;  // the end of a read changes nothing in the file
    return;
  }
  HandleSemafore(*t, a, SemaphoreAction::DecRead);  // reports the imbalance
}

// Brackets a change of the indexes in shared use.
struct WriteLock {
  WorkArea& t;
  bool held = false;
  explicit WriteLock(WorkArea& table) : t(table) {
    AreaIndexes& a = Here();
    if (SharedUse(t) && a.Sem.LoggedIn) {
      if (HandleSemafore(t, a, SemaphoreAction::Lock)) ReReadAnchors(t);
      held = true;
    }
  }
  ~WriteLock() {
    if (held) {
      try {
        HandleSemafore(t, Here(), SemaphoreAction::Unlock);
      } catch (const IndexFailure&) {
      }
    }
  }
};

// --- Opening -------------------------------------------------------------------------

void OpenIndex(const std::string& name, KeyMaker maker, bool noCache, int order, bool descending,
               bool soundex) {
  WorkArea* t = CurrentTable();
  const std::string file = IndexFileName(name, t);
  const std::string upper = platform::AsciiUpper(file);
  const std::string resolved = platform::ResolveFileName(file);
  const std::string tail = " [OpenIndex/Set_Index_To]";
  if (!platform::FileExists(resolved))
    IndexRaise(platform::MissingFileCode(resolved),
               "Attempt to open " + upper + " [SetIndexTo(...," + Str(order) + ")]");
  // The same file (under any spelling) may serve the same table in other
  // areas, never another table nor two orders of one area.
  for (int area = 1; area <= kMaxAreas + 1; ++area) {
    for (int o = 1; o <= kMaxOrders; ++o) {
      const IND* other = IndexEngine()
                             .Areas[static_cast<std::size_t>(area)]
                             .Opened[static_cast<std::size_t>(o)]
                             .get();
      if (!other || (other->Name != upper && !SameFile(other->OpenName, resolved))) continue;
      const WorkArea* otherTable =
          area <= kMaxAreas ? Engine().Areas.Slot[static_cast<std::size_t>(area)].get() : nullptr;
      const bool sameArea = area == Engine().Areas.Current;
      const bool sameTable = otherTable && (otherTable->FileName == t->FileName ||
                                            SameFile(otherTable->OpenName, t->OpenName));
      if ((sameArea && o != order) || (!sameArea && !sameTable)) {
        IndexRaise(220, "Index file already open: " + upper + " for " +
                            (otherTable ? otherTable->FileName : std::string()) + "\n\r" +
                            "Attempting to set index of same name for " + t->FileName + "." + tail);
      }
    }
  }
  AreaIndexes& a = Here();
  const bool shared = SharedUse(*t);
  if (shared && !a.Sem.LoggedIn) HandleSemafore(*t, a, SemaphoreAction::Login);
  int mode = shared ? platform::kModeShared : platform::kModeReadWrite;
  if (Engine().Settings.ForcedFileMode != -1) mode = Engine().Settings.ForcedFileMode;
  if (Engine().Settings.NetworkMode) noCache = true;

  auto x = std::make_unique<IND>();
  x->Name = upper;
  x->OpenName = resolved;
  x->Area = Engine().Areas.Current;
  x->Order = order;
  x->NoCache = noCache;
  if (const int rc = x->File.Open(resolved, mode); rc != 0)
    IndexRaise(rc, "Unable to open index: " + upper + tail);
  std::uint64_t size = 0;
  x->File.Size(size);
  std::uint8_t head[125] = {};
  std::size_t got = 0;
  if (size <= 1023 || x->File.ReadAt(0, head, sizeof head, got) != 0 || got < sizeof head)
    IndexRaise(222, "Unable to open index: " + upper + tail);
  std::memcpy(x->Anchor.raw, head, 24);
  head[124] = 0;
  std::string expr(reinterpret_cast<const char*>(head + 24));
  if (t->Oem) expr = platform::OemToAnsi(expr);
  // The anchor must describe a file we can walk safely.
  const NdxAnchor& an = x->Anchor;
  const std::uint64_t blocks = size / kNodeSize;
  const char letter = an.TypeLetter();
  const int keyLen = an.KeyLen();
  // Some programs leave the type letter out (0): the type code then tells
  // a character key (0) from a numeric or date one (1).
  const bool anchorChar =
      letter == 'C' || (letter != 'N' && letter != 'F' && letter != 'D' && an.TypeCode() == 0);
  const bool sane = keyLen >= 1 && keyLen <= 100 && (anchorChar || keyLen == 8) &&
                    an.EntrySize() >= keyLen + 8 && an.KeysPerNode() >= 1 &&
                    4 + std::int64_t{an.KeysPerNode()} * an.EntrySize() + 4 <= std::int64_t{kNodeSize} &&
                    an.Root() >= 1 && static_cast<std::uint64_t>(an.Root()) < blocks &&
                    an.NextFree() >= 2 && static_cast<std::uint64_t>(an.NextFree()) <= blocks;
  if (!sane) IndexRaise(222, "Unable to open index: " + upper + tail);
  x->Expression = expr;
  const std::string normal = NormalizeExpression(expr);
  const bool marker = normal == NormalizeExpression(kKeyMakerMarker);
  if (!maker) {
    if (marker)
      IndexRaise(223, "Key maker function required, \"" + upper + "\" was created using KeyMaker function." + tail);
    CompiledExpr* e = nullptr;
    if (!Trim(expr).empty()) {
      ScopedErrorDispatch quiet(false);
      e = AssignExpr(expr);
      ClearError();
    }
    if (!e) IndexRaise(222, "Invalid dBASE key expression or corrupted index file " + upper + tail);
    x->Expr = e;
    const char type = e->ResultType();
    if (type != 'C' && type != 'D' && type != 'F' && type != 'N') IndexRaise(222, tail);
    x->CharKey = type == 'C';
    x->Anchor.SetTypeLetter(type);
    if (x->CharKey != anchorChar) IndexRaise(222, "Invalid dBASE key expression or corrupted index file " + upper + tail);
  } else {
    if (!marker)
      IndexRaise(223, "Attempted use of Key Maker function with index file created with a dBASE key "
                      "expression [OpenIndex/Set_Index_ToCB(" + upper + ")]");
    x->ExprIndex = false;
    x->Maker = std::move(maker);
    x->CharKey = true;
    x->Soundex = soundex;
    x->Descending = descending;
  }
  x->CurKey.assign(static_cast<std::size_t>(keyLen), '\0');
  // The block count: a file shorter than its anchor says is damaged; a
  // longer one is corrected, and the correction written only when we may
  // write.
  x->Blocks = static_cast<std::uint64_t>(an.NextFree());
  if (blocks != x->Blocks) {
    x->Anchor.SetNextFree(static_cast<std::int32_t>(std::min<std::uint64_t>(blocks, INT32_MAX)));
    x->Blocks = blocks;
    if (x->File.Writable()) {
      WriteLock lock(*t);
      WriteAnchorNode(*x, *t);
    }
  }
  if (order == 1) {
    if (a.Cache.Enabled() && a.Opened[1]) IndexRaise(254, "Internal error: Cache already allocated" + tail);
    SetUpNodeCache(
        a, (noCache || IndexEngine().Settings.NoCache) ? 0 : IndexEngine().Settings.CacheBytes);
  }
  IND* raw = x.get();
  a.Opened[static_cast<std::size_t>(order)] = std::move(x);
  RebuildWork(a);
  try {
    if (t->RecCount > 0) {
      if (order == 1) {
        // Stand on the first visible record in this index's order.
        const bool natural = a.Natural;
        const int last = a.LastOrder;
        a.Natural = false;
        a.LastOrder = 1;
        RebuildWork(a);
        {
          ScopedErrorDispatch quiet(false);
          const OpeningScope opening(raw);
          GoTop();
        }
        const int code = Engine().Errors.ErrorCode;
        a.Natural = natural;
        a.LastOrder = last;
        RebuildWork(a);
        if (code != 0) throw IndexFailure{};
      }
      if (raw->CharKey) {
        if (t->RecNo >= 1 && t->RecNo <= t->RecCount) {
          std::string key = ComputeKey(*raw, t->Oem);
          if (!FitComputedKey(*raw, key))
            IndexRaise(266, LengthMessage(*raw, key, "SetIndexTo/OpenIndex"));
          raw->CurKey = key;
          MarkKeyWorkedOut(*raw);
        }
      }
    } else {
      raw->Bof = raw->Eof = true;
      if (raw->CharKey) raw->CurKey.assign(static_cast<std::size_t>(keyLen), ' ');
      MarkKeyWorkedOut(*raw);
      raw->Path.clear();
    }
  } catch (...) {
    a.Opened[static_cast<std::size_t>(order)].reset();
    if (order == 1) a.Cache.Slots.clear();
    RebuildWork(a);
    if (!a.Any() && a.Sem.LoggedIn) {
      try {
        HandleSemafore(*t, a, SemaphoreAction::Logout);
      } catch (const IndexFailure&) {
      }
    }
    throw;
  }
}

// The key text of a search in the index's kind.
std::string SearchKey(const IND& x, const std::string& k, bool exact, bool oem) {
  const int keyLen = x.Anchor.KeyLen();
  std::string key = k;
  if (x.ExprIndex) {
    if (!x.CharKey) {
      double v = 0;
      if (x.Anchor.TypeLetter() == 'D') {
        std::string stored;
        if (SearchDateToStored(k, stored)) v = static_cast<double>(JulianOfStored(stored));
      } else {
        v = std::strtod(Trim(k).c_str(), nullptr);
      }
      std::string bytes(8, '\0');
      std::memcpy(bytes.data(), &v, 8);
      return bytes;
    }
    if (exact && static_cast<int>(key.size()) < keyLen) key.append(static_cast<std::size_t>(keyLen) - key.size(), ' ');
    if (oem) key = platform::AnsiToOem(key);
  } else {
    if (exact && static_cast<int>(key.size()) < keyLen) key.append(static_cast<std::size_t>(keyLen) - key.size(), ' ');
    if (x.Soundex) key = Soundex(key);
    if (x.Descending)
      for (char& c : key) c = static_cast<char>(255 - static_cast<unsigned char>(c));
  }
  if (static_cast<int>(key.size()) > keyLen) key.resize(static_cast<std::size_t>(keyLen));
  return key;
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
void SyncOne(IND& x, WorkArea& t, const char* zero, const char* one, const char* two) {
  if (t.RecNo < 1 || t.RecNo > t.RecCount || t.RecCount == 0) {
    x.Eof = true;
    return;
  }
  std::string key = ComputeKey(x, t.Oem);
  if (!FitComputedKey(x, key)) IndexRaise(266, LengthMessage(x, key, zero));
  if (KeyDue(x)) {
    // The record as it was read: its key is the last known one, should the
    // record be read again below and its entry not be found.
    x.CurKey = key;
    MarkKeyWorkedOut(x);
  }
  const std::uint8_t* k = reinterpret_cast<const std::uint8_t*>(key.data());
  auto matches = [&] {
    return !x.Eof && !x.Path.empty() && KeyCompare(x, KeyOf(x, x.Path.back(), x.Path.back().entry), k) == 0;
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
      if (!FitComputedKey(x, key)) IndexRaise(266, LengthMessage(x, key, zero));
      k = reinterpret_cast<const std::uint8_t*>(key.data());
      ReadAnchor(x);
      Descend(x, k, false);
    }
  }
  if (!matches())
    IndexRaise(212, "Key: \"" + key + "\" not in index: " + x.Name + ". [" + one + "] Record: " + Str(t.RecNo));
  if (!x.Anchor.Unique()) {
    while (CurrentRecord(x) != t.RecNo) {
      if (!StepForward(x) || !matches())
        IndexRaise(212, "Record with key: \"" + key + "\" not in index: " + x.Name + ". [" + two + "]");
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
  } catch (const IndexFailure&) {
    DispatchPending();
    return 0;
  }
}

template <typename F>
std::int64_t Guarded(F f, std::int64_t onFailure) {
  try {
    return f();
  } catch (const IndexFailure&) {
    if (IND* x = Controlling()) x->Eof = true;
    return onFailure;
  }
}

}  // namespace

// --- Public operations ---------------------------------------------------------------

IndexInfoRecord IndexInfo(const std::string& name) {
  ClearError();
  IndexInfoRecord r;
  const std::string file = IndexFileName(name, CurrentTable());
  const std::string message = "Error reading index file: \n\r[IndexInfo(<>," + platform::AsciiUpper(Trim(name)) + ")]";
  if (file.empty()) {
    SetError(220, message);
    return r;
  }
  platform::File f;
  int rc = f.Open(platform::ResolveFileName(file), platform::kModeRead | platform::kShareDenyNone);
  std::uint8_t block[kNodeSize] = {};
  std::size_t got = 0;
  if (rc == 0) rc = f.ReadAt(0, block, kNodeSize, got);
  if (rc == 0 && got < kNodeSize) rc = 100;
  if (rc != 0) {
    SetError(rc, message);
    return r;
  }
  block[124] = 0;
  r.Expression = reinterpret_cast<const char*>(block + 24);
  if (r.Expression.size() > 100) r.Expression.resize(100);
  r.KeyLength = block[12];
  r.KeyType = static_cast<char>(block[9]);
  // Without a type letter (some programs leave it out) the type code says
  // character (0) or numeric (1).
  if (r.KeyType != 'C' && r.KeyType != 'N' && r.KeyType != 'F' && r.KeyType != 'D')
    r.KeyType = (block[16] | (block[17] << 8)) == 0 ? 'C' : 'N';
  r.Unique = block[23] != 0;
  std::uint32_t check, count;
  std::memcpy(&check, block + 488, 4);
  std::memcpy(&count, block + 492, 4);
  if (count == ~check) {
    r.Records = count;
    block[508] = 0;
    r.Table = reinterpret_cast<const char*>(block + 496);
    if (r.Table.size() > 12) r.Table.resize(12);
  }
  return r;
}

void SetIndexTo(const std::string& text, KeyMaker maker, int order) {
  ClearError();
  IndexOptions options;
  const std::string name = TakeIndexOptions(text, options);
  try {
    const std::string where = " [SetIndexTo(<>," + platform::AsciiUpper(name) + "," + Str(order) + ")]";
    if (order < 1 || order > kMaxOrders) IndexRaise(220, "Index Order parameter out of range" + where);
    if (!CurrentTable())
      IndexRaise(215, "Attempt to open " + platform::AsciiUpper(name) + " index file with no DBF file open." + where);
    if (Here().Opened[static_cast<std::size_t>(order)]) CloseIndex(order);
    OpenIndex(name, std::move(maker), options.NoCache, order, options.Descending, options.Soundex);
    StoreCurrentKeysRaising();
    if (Engine().Errors.ErrorCode != 0) return;
    Set_Order_To(1);
  } catch (const IndexFailure&) {
    // Left for the caller: the code and message stay in the error state.
  }
}

void Set_Index_To(const std::string& names) {
  ClearError();
  CloseIndexes();
  int order = 0, lastCode = 0;
  std::string detail;
  std::size_t pos = 0;
  const std::string list = names + " ";
  while (pos < list.size()) {
    const std::size_t end = list.find(' ', pos);
    const std::string one = list.substr(pos, end - pos);
    pos = end + 1;
    if (one.empty()) continue;
    SetIndexTo(one, nullptr, ++order);
    if (Engine().Errors.ErrorCode != 0) {
      lastCode = Engine().Errors.ErrorCode;
      detail = TakeErrorDetail();
    }
  }
  Set_Order_To(1);
  if (lastCode != 0) SetError(lastCode, detail + " [SetIndexTo]");
}

void CloseIndex(int order) {
  if (order < 1 || order > kMaxOrders) return;
  AreaIndexes& a = Here();
  std::unique_ptr<IND>& slot = a.Opened[static_cast<std::size_t>(order)];
  if (!slot) return;
  WorkArea* t = CurrentTable();
  try {
    if (slot->AnchorChanged && slot->File.Writable() && t) {
      WriteLock lock(*t);
      WriteAnchorNode(*slot, *t);
    }
  } catch (const IndexFailure&) {
  }
  if (order == 1) a.Cache.Slots.clear();
  const bool wasControlling = a.LastOrder == order;
  slot.reset();
  if (wasControlling) {
    a.LastOrder = 0;
    a.Natural = true;
  }
  RebuildWork(a);
  if (!a.Any()) {
    if (a.Sem.LoggedIn && t) {
      try {
        HandleSemafore(*t, a, SemaphoreAction::Logout);
      } catch (const IndexFailure&) {
      }
    }
    a = AreaIndexes{};
  }
}

void CloseIndexes() {
  for (int i = 1; i <= kMaxOrders; ++i) CloseIndex(i);
}

namespace {

// The first (or last) entry of the controlling index, its key kept as the
// current one; 0 with BOF and EOF set when the index is empty.
std::int64_t FindEdgeRaising(bool first) {
  IND* x = Controlling();
  if (!x) IndexRaise(221, first ? "Index not open. [_FindFirstRec]" : "Index not open. [_FindLastRec]");
  if (!PlaceAtEdge(*x, first)) {
    x->Bof = x->Eof = true;
    IndexEngine().Settings.Found = false;
    return 0;
  }
  x->Bof = x->Eof = false;
  IndexEngine().Settings.Found = true;
  CopyCurrentKey(*x);
  return CheckedRecord(*x, CurrentRecord(*x), first ? "_FindFirstRec" : "_FindLastRec");
}

std::int64_t FindFirstRaising() { return FindEdgeRaising(true); }
std::int64_t FindLastRaising() { return FindEdgeRaising(false); }

std::int64_t FindNextRaising() {
  WorkArea* t = CurrentTable();
  AreaIndexes& a = Here();
  IND* x = Controlling();
  if (!t) return 0;
  if (t->RecCount == 0) {
    if (x) x->Bof = x->Eof = true;
    return 0;
  }
  if (a.Natural || !x) return t->RecNo < t->RecCount ? t->RecNo + 1 : t->RecNo;
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
      IndexEngine().Settings.Found = true;
      CopyCurrentKey(*x);
      return CheckedRecord(*x, CurrentRecord(*x), "_FindNextRec");
    }
  }
  if (!StepForward(*x)) x->Eof = true;
  IndexEngine().Settings.Found = !x->Eof;
  CopyCurrentKey(*x);
  return CheckedRecord(*x, CurrentRecord(*x), "_FindNextRec");
}

std::int64_t FindPriorRaising() {
  WorkArea* t = CurrentTable();
  AreaIndexes& a = Here();
  IND* x = Controlling();
  if (!t) return 0;
  if (t->RecCount == 0) {
    if (x) x->Bof = x->Eof = true;
    return 0;
  }
  if (a.Natural || !x) return t->RecNo > 1 ? t->RecNo - 1 : t->RecNo;
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
    IndexEngine().Settings.Found = true;
    CopyCurrentKey(*x);
    return CheckedRecord(*x, CurrentRecord(*x), "_FindPriorRec");
  }
  if (!StepBackward(*x)) x->Bof = true;
  IndexEngine().Settings.Found = !x->Bof;
  CopyCurrentKey(*x);
  return CheckedRecord(*x, CurrentRecord(*x), "_FindPriorRec");
}

}  // namespace

// A public move of the controlling index: a failure is dispatched as an
// engine error, and the move delivers no record.
std::int64_t _FindFirstRec() { return DispatchedMove(FindFirstRaising); }
std::int64_t _FindLastRec() { return DispatchedMove(FindLastRaising); }
std::int64_t _FindNextRec() { return DispatchedMove(FindNextRaising); }
std::int64_t _FindPriorRec() { return DispatchedMove(FindPriorRaising); }

bool Find(const std::string& text) {
  ClearError();
  const std::string k = text.substr(0, 100);
  WorkArea* t = CurrentTable();
  bool found = false;
  bool reading = false;
  try {
    if (!t) IndexRaise(215, " [Find]");
    AreaIndexes& a = Here();
    if (a.Natural) IndexRaise(254, "Cannot use Find() with index order 0 (natural order) [Find]");
    IND* x = a.Work[1];
    if (!x) IndexRaise(221, "Index not open. while searching for " + k + " in " + t->FileName + " [Find]");
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
    if (r >= 1) Dbf4RawGo(r);
    while (!x->Eof && t->RecNo >= 1 && t->RecNo <= t->RecCount && !IsVisible(*t)) {
      if (!StepForward(*x)) {
        x->Eof = true;
        break;
      }
      r = CheckedRecord(*x, CurrentRecord(*x), "Find");
      Dbf4RawGo(r);
    }
    // Outside exact mode a character search is a prefix search.
    const std::size_t n = std::min(key.size(), x->CharKey && !exact ? key.size()
                                                                     : static_cast<std::size_t>(x->Anchor.KeyLen()));
    // Numeric and date keys match by value (0 and -0 are one number).
    found = !x->Eof && !x->Path.empty() &&
            (x->CharKey ? std::memcmp(KeyOf(*x, x->Path.back(), x->Path.back().entry), key.data(), n) == 0
                        : KeyCompare(*x, KeyOf(*x, x->Path.back(), x->Path.back().entry),
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
  } catch (const IndexFailure&) {
    if (reading) {
      try {
        EndRead();
      } catch (const IndexFailure&) {
      }
    }
    DispatchPending();
    return false;
  }
  return found;
}

namespace {

void SyncIndexRaising() {
  WorkArea* t = CurrentTable();
  if (!t) return;
  AreaIndexes& a = Here();
  ScopedSetting<bool> keyOrder(a.Natural, false);
  const int last = IndexEngine().Settings.AllOrders ? kMaxOrders : 1;
  for (int i = 1; i <= last; ++i) {
    IND* x = a.Work[static_cast<std::size_t>(i)];
    if (x) SyncOne(*x, *t, "SyncIndex-0", "SyncIndex-1", "SyncIndex-2");
  }
}

void SoftSyncIndexRaising() {
  WorkArea* t = CurrentTable();
  IND* x = Controlling();
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
  } catch (const IndexFailure&) {
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
    } catch (const IndexFailure&) {
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

void StoreKeyOf(IND& x, const WorkArea& t) {
  std::string key = ComputeKey(x, t.Oem);
  if (!FitComputedKey(x, key)) {
    IndexRaise(266, LengthMessage(x, key, "StoreCurrentKeys") + "\n\rRecCount: " + Str(t.RecCount) +
                        " RecNo: " + Str(t.RecNo));
  }
  x.CurKey = std::move(key);
  MarkKeyWorkedOut(x);
}

// Every open index keeps the key of the current record: a write needs the
// old key of the record it rewrites, and a place lost to another program's
// changes is found again by it. A table opened read-only is never written,
// so after a move its keys are only marked as due and worked out from the
// record when a lost place is looked for (Reposition): a walk then does
// not evaluate every key of every record it passes.
void StoreCurrentKeysRaising(bool whenNeeded) {
  WorkArea* t = CurrentTable();
  if (!t) return;
  AreaIndexes& a = Here();
  const bool onRecord = t->RecCount > 0 && t->RecNo >= 1 && t->RecNo <= t->RecCount;
  if (onRecord && whenNeeded && !t->File.Writable()) {
    ++a.KeysMoved;  // every index's key is due
    return;
  }
  const IND* opening = IndexEngine().Opening;
  for (int i = 1; i <= kMaxOrders; ++i) {
    IND* x = a.Opened[static_cast<std::size_t>(i)].get();
    if (!x || x == opening) continue;
    if (!onRecord) {
      std::fill(x->CurKey.begin(), x->CurKey.end(), '\0');
      MarkKeyWorkedOut(*x);
    } else {
      StoreKeyOf(*x, *t);
    }
  }
}

}  // namespace

void SyncIndex() {
  try {
    SyncIndexRaising();
  } catch (const IndexFailure&) {
    DispatchPending();
  }
}

void SoftSyncIndex() {
  try {
    SoftSyncIndexRaising();
  } catch (const IndexFailure&) {
    DispatchPending();
  }
}

void StoreCurrentKeys() {
  try {
    StoreCurrentKeysRaising();
  } catch (const IndexFailure&) {
    DispatchPending();
  }
}

void Set_Order_To(int n) {
  ClearError();
  WorkArea* t = CurrentTable();
  try {
    const std::string where = " [Set_Order_To(" + Str(n) + ")]";
    if (!t) IndexRaise(215, "No database open in current work area" + where);
    AreaIndexes& a = Here();
    if (n < 0 || n > kMaxOrders)
      IndexRaise(220, "Invalid Index Order Specified: SET_ORDER_TO. (DBF=" + t->FileName + ")" + where);
    if (n == 0) {
      a.Natural = true;
      a.LastOrder = 0;
      return;
    }
    if (!a.Any()) IndexRaise(221, "No primary index active. (DBF=" + t->FileName + ")" + where);
    if (!a.Opened[static_cast<std::size_t>(n)])
      IndexRaise(221, "Index not open.. (DBF=" + t->FileName + ")" + where);
    const bool wasPastEnd = a.Work[1] && !a.Natural && a.Work[1]->Eof;
    if (n != a.LastOrder || a.Natural) {
      a.LastOrder = n;
      a.Natural = false;
      RebuildWork(a);
      for (NodeCache::Slot& s : a.Cache.Slots) s.used = false;
      if (t->RecCount == 0 || wasPastEnd) a.Work[1]->Eof = true;
    }
    const bool found = IndexEngine().Settings.Found;
    SyncIndexRaising();
    StoreCurrentKeysRaising();
    IndexEngine().Settings.Found = found;
  } catch (const IndexFailure&) {
    // Left for the caller.
  }
}

int CurrentOrder() {
  ClearError();
  if (!CurrentTable()) {
    SetError(215, "No database open in current work area [CurrentOrder]");
    return 0;
  }
  const AreaIndexes& a = Here();
  if (a.Natural || !a.Any()) return 0;
  return a.LastOrder;
}

// --- Building and rebuilding ---------------------------------------------------------

namespace {

void IndexOnImpl(const std::string& text, const BuildOptions& build) {
  ClearError();
  CloseIndexes();
  if (Here().Opened[1]) {
    SetError(254, "Internal error: IND pointer already allocated [Index_On]");
    return;
  }
  IndexOptions options;
  const std::string name = TakeIndexOptions(text, options);
  if (name.empty()) return;
  BuildOptions b = build;
  b.Unique = options.Unique || IndexEngine().Settings.UniqueDefault;
  if (b.Maker) {
    b.Soundex = options.Soundex;
    b.Descending = options.Descending;
  }
  MakeIndex(name, b);
  if (Engine().Errors.ErrorCode != 0) return;
  SetIndexTo(text, b.Maker, 1);
  DispatchPending();
}

}  // namespace

void Index_On(const std::string& name, const std::string& expression) {
  BuildOptions b;
  b.Expression = expression;
  IndexOnImpl(name, b);
}

void Index_On(const std::string& name, KeyMaker maker) {
  BuildOptions b;
  b.Maker = std::move(maker);
  IndexOnImpl(name, b);
}

void Reindex() {
  ClearError();
  WorkArea* t = CurrentTable();
  if (!t) {
    SetError(215, "No database open in current work area [Reindex]");
    return;
  }
  AreaIndexes& a = Here();
  if (!a.Any()) {
    SetError(221, "No open indexes with " + t->FileName + " [Reindex]");
    return;
  }
  struct Plan {
    int order;
    std::string name;
    BuildOptions build;
    bool noCache;
  };
  std::vector<Plan> plans;
  for (int i = 1; i <= kMaxOrders; ++i) {
    IND* x = a.Opened[static_cast<std::size_t>(i)].get();
    if (!x) continue;
    Plan p;
    p.order = i;
    p.name = x->OpenName;
    p.noCache = x->NoCache || (i == 1 && !a.Cache.Enabled());
    p.build.Unique = x->Anchor.Unique();
    p.build.Soundex = x->Soundex;
    p.build.Descending = x->Descending;
    if (x->ExprIndex) {
      char expr[101] = {};
      std::size_t got = 0;
      if (x->File.ReadAt(24, expr, 100, got) != 0) {
        SetError(100, "Error reading index file:  [Reindex]");
        return;
      }
      p.build.Expression = expr;
      if (t->Oem) p.build.Expression = platform::OemToAnsi(p.build.Expression);
    } else {
      p.build.Maker = x->Maker;
    }
    plans.push_back(p);
  }
  const int order = a.Natural ? 0 : a.LastOrder;
  const std::int64_t recNo = t->RecNo;
  CloseIndexes();
  // Every index is built even when one build fails (a full disk): an index
  // left from before would no longer match the table. A build that fails
  // leaves no file; the first failure is reported once all were tried.
  int firstCode = 0;
  std::string firstDetail;
  {
    const ScopedErrorDispatch quiet(false);
    for (const Plan& p : plans) {
      // Every build stands on the record the table stood on (a character
      // key's length comes from it), not where reopening an order left it.
      if (recNo >= 1 && recNo <= t->RecCount && t->RecNo != recNo) Dbf4RawGo(recNo);
      MakeIndex(p.name, p.build);
      if (Engine().Errors.ErrorCode == 0) {
        std::string words = p.name;
        if (p.build.Unique) words += " UNIQUE";
        if (p.noCache) words += " NOCACHE";
        if (p.build.Soundex) words += " SOUNDEX";
        if (p.build.Descending) words += " DESCENDING";
        SetIndexTo(words, p.build.Maker, p.order);
      }
      if (Engine().Errors.ErrorCode != 0 && firstCode == 0) {
        firstCode = Engine().Errors.ErrorCode;
        firstDetail = Engine().Errors.ErrorDetail;
      }
      ClearError();
    }
  }
  if (firstCode != 0) {
    StoreError(firstCode, firstDetail);
    DispatchPending();
    return;
  }
  Set_Order_To(order);
}

// --- Write paths ---------------------------------------------------------------------

namespace {

void SetEntry(IND& x, std::uint8_t* image, int i, std::int32_t child, std::int32_t rec, const std::uint8_t* key) {
  std::uint8_t* e = EntryAt(x, image, i);
  const std::size_t es = static_cast<std::size_t>(x.Anchor.EntrySize());
  std::memset(e, 0, es);
  for (int b = 0; b < 4; ++b) e[b] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(child) >> (8 * b));
  for (int b = 0; b < 4; ++b) e[4 + b] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(rec) >> (8 * b));
  std::memcpy(e + 8, key, static_cast<std::size_t>(x.Anchor.KeyLen()));
}

void SetCount(std::uint8_t* image, int c) {
  image[0] = static_cast<std::uint8_t>(c);
  image[1] = static_cast<std::uint8_t>(c >> 8);
}

std::int32_t NewNode(IND& x) {
  const std::int32_t n = x.Anchor.NextFree();
  x.Anchor.SetNextFree(n + 1);
  x.AnchorChanged = true;
  x.Blocks = std::max<std::uint64_t>(x.Blocks, static_cast<std::uint64_t>(n) + 1);
  return n;
}

// Inserts (child, rec, key) at position pos of the node at path level
// `level`, splitting nodes up the path as needed.
void InsertAt(IND& x, std::size_t level, int pos, std::int32_t child, std::int32_t rec, std::vector<std::uint8_t> key) {
  const int kpn = x.Anchor.KeysPerNode();
  const std::size_t es = static_cast<std::size_t>(x.Anchor.EntrySize());
  const std::size_t keyLen = static_cast<std::size_t>(x.Anchor.KeyLen());
  for (;;) {
    PathLevel& l = x.Path[level];
    std::uint8_t* img = l.image.data();
    const int count = NodeCount(img);
    const bool leaf = IsLeaf(img) && (level + 1 == x.Path.size());
    // Work on a copy one entry larger than a node can hold.
    std::vector<std::uint8_t> big(4 + (static_cast<std::size_t>(count) + 2) * es, 0);
    std::memcpy(big.data(), img, 4 + static_cast<std::size_t>(count) * es + 4);
    std::uint8_t* at = big.data() + 4 + static_cast<std::size_t>(pos) * es;
    std::memmove(at + es, at, static_cast<std::size_t>(count - pos) * es + (leaf ? 0 : 4));
    std::memset(at, 0, es);
    for (int b = 0; b < 4; ++b) at[b] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(child) >> (8 * b));
    for (int b = 0; b < 4; ++b) at[4 + b] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(rec) >> (8 * b));
    std::memcpy(at + 8, key.data(), keyLen);
    const int total = count + 1;
    if (total <= kpn) {
      std::memset(img, 0, kNodeSize);
      std::memcpy(img, big.data(), 4 + static_cast<std::size_t>(total) * es + (leaf ? 0 : 4));
      SetCount(img, total);
      SeekAndWrite(x, l.node, img);
      return;
    }
    // Split: the new node takes the left half, this node keeps the right.
    const int left = total / 2;
    std::array<std::uint8_t, kNodeSize> leftImg{}, rightImg{};
    std::vector<std::uint8_t> up(keyLen);
    if (leaf) {
      std::memcpy(leftImg.data() + 4, big.data() + 4, static_cast<std::size_t>(left) * es);
      SetCount(leftImg.data(), left);
      std::memcpy(rightImg.data() + 4, big.data() + 4 + static_cast<std::size_t>(left) * es,
                  static_cast<std::size_t>(total - left) * es);
      SetCount(rightImg.data(), total - left);
      std::memcpy(up.data(), big.data() + 4 + static_cast<std::size_t>(left - 1) * es + 8, keyLen);
    } else {
      // Entries 0..left-1 go left with entry left's child as right-most;
      // entry left's key goes up.
      std::memcpy(leftImg.data() + 4, big.data() + 4, static_cast<std::size_t>(left) * es);
      SetCount(leftImg.data(), left);
      std::memcpy(leftImg.data() + 4 + static_cast<std::size_t>(left) * es,
                  big.data() + 4 + static_cast<std::size_t>(left) * es, 4);
      std::memcpy(up.data(), big.data() + 4 + static_cast<std::size_t>(left) * es + 8, keyLen);
      const int right = total - left - 1;
      std::memcpy(rightImg.data() + 4, big.data() + 4 + static_cast<std::size_t>(left + 1) * es,
                  static_cast<std::size_t>(right) * es + 4);
      SetCount(rightImg.data(), right);
    }
    const std::int32_t newNode = NewNode(x);
    SeekAndWrite(x, newNode, leftImg.data());
    SeekAndWrite(x, l.node, rightImg.data());
    if (level == 0) {
      // A new root: one entry for the left node, the old root as right-most.
      const std::int32_t root = NewNode(x);
      std::array<std::uint8_t, kNodeSize> rootImg{};
      SetEntry(x, rootImg.data(), 0, newNode, 0, up.data());
      SetCount(rootImg.data(), 1);
      const std::int32_t old = l.node;
      for (int b = 0; b < 4; ++b)
        rootImg[4 + es + static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(old) >> (8 * b));
      SeekAndWrite(x, root, rootImg.data());
      x.Anchor.SetRoot(root);
      x.AnchorChanged = true;
      return;
    }
    // One level up: the left node goes in front of this node's entry.
    pos = x.Path[level - 1].entry;
    child = newNode;
    rec = 0;
    key = up;
    --level;
  }
}

// From the position after every entry of `key`, moves back in front of
// those entries of the key whose record numbers are higher than `rec`:
// equal keys keep ascending record numbers (a changed record is not always
// the highest of its key). The position stays in the leaf of the entry it
// goes in front of, so the bounding keys above it still hold.
void BackOverHigherRecords(IND& x, const std::uint8_t* key, std::int64_t rec) {
  for (;;) {
    const std::vector<PathLevel> after = x.Path;
    if (!StepBackward(x)) return;  // the position stayed where it was
    const PathLevel& leaf = x.Path.back();
    if (KeyCompare(x, KeyOf(x, leaf, leaf.entry), key) != 0 || EntryRecord(EntryOf(x, leaf, leaf.entry)) < rec) {
      x.Path = after;
      return;
    }
  }
}

bool RemoveEntry(IND& x, WorkArea& t, const std::string& key, std::int64_t rec);

// Inserts a key for a record into one index. A UNIQUE index keeps, for each
// key, the entry of the lowest record that has it (as a build does): a
// record below the present holder takes its place.
void AppendIndex(IND& x, WorkArea& t, std::string key, std::int64_t rec) {
  if (x.CharKey) key = FitKey(key, x.Anchor.KeyLen());
  const auto* k = reinterpret_cast<const std::uint8_t*>(key.data());
  WriteLock lock(t);
  if (x.Anchor.Unique()) {
    // Is the key there already?
    if (Descend(x, k, false) &&
        KeyCompare(x, KeyOf(x, x.Path.back(), x.Path.back().entry), k) == 0) {
      const std::int64_t holder = CurrentRecord(x);
      if (holder <= rec) return;
      RemoveEntry(x, t, key, holder);
    }
  }
  // After every entry with the same key, then back in front of the higher
  // records of that key.
  Descend(x, k, true, true);
  BackOverHigherRecords(x, k, rec);
  const std::size_t leafLevel = x.Path.size() - 1;
  const std::int32_t root = x.Anchor.Root(), nextFree = x.Anchor.NextFree();
  InsertAt(x, leafLevel, x.Path.back().entry, 0, static_cast<std::int32_t>(rec),
           std::vector<std::uint8_t>(k, k + x.Anchor.KeyLen()));
  // New nodes or a new root reach the anchor at once.
  if ((x.Anchor.Root() != root || x.Anchor.NextFree() != nextFree) && x.File.Writable()) WriteAnchorNode(x, t);
  // Stand on the new entry.
  Descend(x, k, false);
  while (!x.Eof && CurrentRecord(x) != rec && StepForward(x)) {
  }
  x.CurKey = key;
  MarkKeyWorkedOut(x);
}

// Removes the entry of (key, record) from one index; true when there was
// one. In a UNIQUE index a record may have no entry (a lower record holds
// its key): nothing to do.
bool RemoveEntry(IND& x, WorkArea& t, const std::string& key, std::int64_t rec) {
  const auto* k = reinterpret_cast<const std::uint8_t*>(key.data());
  WriteLock lock(t);
  auto missing = [&] {
    if (x.Anchor.Unique()) return false;
    IndexRaise(212, "Record with key: \"" + key + "\" not in index: " + x.Name + ". [CompareKeys]");
  };
  if (!Descend(x, k, false)) return missing();
  for (;;) {
    if (KeyCompare(x, KeyOf(x, x.Path.back(), x.Path.back().entry), k) != 0) return missing();
    if (CurrentRecord(x) == rec) break;
    if (!StepForward(x)) return missing();
  }
  PathLevel& leaf = x.Path.back();
  std::uint8_t* img = leaf.image.data();
  const int count = NodeCount(img);
  const std::size_t es = static_cast<std::size_t>(x.Anchor.EntrySize());
  std::uint8_t* at = img + 4 + static_cast<std::size_t>(leaf.entry) * es;
  std::memmove(at, at + es, static_cast<std::size_t>(count - leaf.entry - 1) * es);
  std::memset(img + 4 + static_cast<std::size_t>(count - 1) * es, 0, es);
  SetCount(img, count - 1);
  // An emptied leaf stays in the tree; walks pass over it.
  SeekAndWrite(x, leaf.node, img);
  return true;
}

// Puts the table's current record back as it was after a scan of the file.
class RecordKeeper {
 public:
  explicit RecordKeeper(WorkArea& t)
      : t_(t),
        raw_(t.RawRec),
        native_(t.Native, t.Native + t.NativeSize),
        recNo_(t.RecNo),
        eof_(t.Eof),
        bof_(t.Bof) {}
  ~RecordKeeper() {
    t_.RawRec = raw_;
    std::copy(native_.begin(), native_.end(), t_.Native);
    t_.RecNo = recNo_;
    t_.Eof = eof_;
    t_.Bof = bof_;
  }
  RecordKeeper(const RecordKeeper&) = delete;
  RecordKeeper& operator=(const RecordKeeper&) = delete;

 private:
  WorkArea& t_;
  std::vector<std::uint8_t> raw_, native_;
  std::int64_t recNo_;
  bool eof_, bof_;
};

// The lowest record other than `except` whose key is `key` (key-length
// bytes), 0 when no record has it: the record a build of a UNIQUE index
// enters for that key. Reads every record from the file, deleted or not,
// as a build does; the current record stays as it was.
std::int64_t LowestRecordWithKey(IND& x, WorkArea& t, const std::string& key, std::int64_t except) {
  const RecordKeeper keep(t);
  ForgetCachedRecords(t);
  RefreshRecCount(t);
  for (std::int64_t r = 1; r <= t.RecCount; ++r) {
    if (r == except) continue;
    if (const int rc = ReadRecordBytes(t, r, t.RawRec.data()); rc != 0)
      IndexRaise(rc, "File:  " + t.FileName + "  [CompareKeys]");
    if (t.RecordLen > 1) {
      if (t.Decode) t.Decode(t.RawRec.data() + 1, t.RecordLen - 1);
      if (t.Oem) platform::OemToAnsi(t.RawRec.data() + 1, t.RecordLen - 1);
    }
    t.RecNo = r;
    t.Eof = t.Bof = false;
    if (!x.ExprIndex) Unpack(t);
    std::string k = ComputeKey(x, t.Oem);
    if (x.CharKey) k = FitKey(k, x.Anchor.KeyLen());
    if (k == key) return r;
  }
  return 0;
}

}  // namespace

namespace {

// Keeps every open index of the current area in step with the record at
// the pointer after it was appended (true) or rewritten (false), all or
// nothing: the whole change is one change for other programs (one lock of
// the semaphore), and a change that fails part-way (a write the disk
// refused) is taken back, so that each index is left as it was. The error
// is stored, not dispatched.
void KeepIndexesInStep(bool appended) {
  WorkArea* t = CurrentTable();
  if (!t) return;
  AreaIndexes& a = Here();
  if (!a.Any()) return;
  // The key a rewritten record has in an index now, and the one it had.
  const auto keys = [t](IND& x) {
    std::string key = ComputeKey(x, t->Oem), old = x.CurKey;
    if (x.CharKey) {
      key = FitKey(key, x.Anchor.KeyLen());
      old = FitKey(old, x.Anchor.KeyLen());
    }
    return std::make_pair(key, old);
  };
  if (!appended) {
    // Nothing to change (and nothing for other programs to learn) when no
    // key moved.
    bool moved = false;
    for (int i = 1; i <= kMaxOrders && !moved; ++i)
      if (IND* x = a.Opened[static_cast<std::size_t>(i)].get()) {
        const auto [key, old] = keys(*x);
        moved = key != old;
      }
    if (!moved) return;
  }
  try {
    const WriteLock whole(*t);
    IndexJournal journal(a);
    try {
      for (int i = 1; i <= kMaxOrders; ++i) {
        IND* x = a.Opened[static_cast<std::size_t>(i)].get();
        if (!x) continue;
        if (appended) {
          AppendIndex(*x, *t, ComputeKey(*x, t->Oem), t->RecNo);
          // The table's record count, kept in the anchor, changed: the
          // anchor is written when the index closes.
          x->AnchorChanged = true;
          continue;
        }
        const auto [key, old] = keys(*x);
        if (old == key) continue;
        const bool held = RemoveEntry(*x, *t, old, t->RecNo);
        if (held && x->Anchor.Unique()) {
          // The record leaves a key of a UNIQUE index: the next record that
          // has that key takes its place, as in a build.
          if (const std::int64_t next = LowestRecordWithKey(*x, *t, old, t->RecNo); next != 0)
            AppendIndex(*x, *t, old, next);
        }
        AppendIndex(*x, *t, key, t->RecNo);
      }
      // A key expression that failed has reported already.
      if (Engine().Errors.ErrorCode != 0) throw IndexFailure{};
    } catch (...) {
      journal.TakeBack();
      throw;
    }
    if (appended)
      if (IND* c = Controlling()) c->Bof = c->Eof = false;
  } catch (const IndexFailure&) {
  }
}

}  // namespace

void AppendNewKey() {
  KeepIndexesInStep(true);
  DispatchPending();
}

void CompareKeys() {
  KeepIndexesInStep(false);
  DispatchPending();
}

// --- Hooks ---------------------------------------------------------------------------

namespace {

bool HookActive() {
  const WorkArea* t = CurrentTable();
  if (!t) return false;
  const AreaIndexes& a = Here();
  return !a.Natural && a.Work[1] != nullptr;
}

// The error stays stored: every move that synchronises reports it at its
// end, after it has closed its read bracket of the shared-use protocol.
void HookSynchronise() {
  try {
    SyncIndexRaising();
  } catch (const IndexFailure&) {
  }
}

std::int64_t HookNext() {
  WorkArea* t = CurrentTable();
  const std::int64_t here = t ? t->RecNo : 0;
  const std::int64_t r = Guarded([] { return FindNextRaising(); }, here);
  if (t) RefreshForRecord(*t, r);
  return r;
}

std::int64_t HookPrior() {
  WorkArea* t = CurrentTable();
  const std::int64_t here = t ? t->RecNo : 0;
  const std::int64_t r = Guarded([] { return FindPriorRaising(); }, here);
  if (t) RefreshForRecord(*t, r);
  return r;
}

std::int64_t HookFirst() {
  const std::int64_t r = Guarded([] { return FindFirstRaising(); }, 0);
  if (WorkArea* t = CurrentTable()) RefreshForRecord(*t, r);
  return r;
}

std::int64_t HookLast() {
  const std::int64_t r = Guarded([] { return FindLastRaising(); }, 0);
  if (WorkArea* t = CurrentTable()) RefreshForRecord(*t, r);
  return r;
}

bool HookAtEof() {
  IND* x = Controlling();
  return x ? x->Eof : false;
}

bool HookAtBof() {
  IND* x = Controlling();
  return x ? x->Bof : false;
}

void HookStoreKeys() {
  try {
    StoreCurrentKeysRaising(true);
  } catch (const IndexFailure&) {
    DispatchPending();
  }
}

void HookSetBof(bool on) {
  if (IND* x = Controlling()) x->Bof = on;
}

void HookSetEof(bool on) {
  if (IND* x = Controlling()) x->Eof = on;
}

void HookSemaphore(bool begin) {
  try {
    if (begin) BeginRead();
    else EndRead();
  } catch (const IndexFailure&) {
    // The move goes on without the protocol; the error is reported at its end.
  }
}

// The table layer dispatches the error itself, after it has taken its
// record back.
void HookUpdateKeys(bool appended) {
  KeepIndexesInStep(appended);
}

void HookRebuild() {
  if (CurrentTable() && Here().Any()) Reindex();
}

}  // namespace

void IndexInit() {
  Engine().Index.Active = HookActive;
  Engine().Index.Synchronise = HookSynchronise;
  Engine().Index.NextEntry = HookNext;
  Engine().Index.PriorEntry = HookPrior;
  Engine().Index.FirstEntry = HookFirst;
  Engine().Index.LastEntry = HookLast;
  Engine().Index.AtEof = HookAtEof;
  Engine().Index.AtBof = HookAtBof;
  Engine().Index.StoreKeys = HookStoreKeys;
  Engine().Index.SetBof = HookSetBof;
  Engine().Index.SetEof = HookSetEof;
  Engine().Index.CloseIndexes = CloseIndexes;
  Engine().Index.Semaphore = HookSemaphore;
  Engine().Index.UpdateKeys = HookUpdateKeys;
  Engine().Index.Rebuild = HookRebuild;
}

void InitEngine() {
  InitDateSettings();
  MemoInit();
  ParserInit();
  IndexInit();
}

}  // namespace vz
