#include "index/ndx_update.h"

#include <algorithm>
#include <cstring>

#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/index_state.h"
#include "index/indexes.h"
#include "index/ndx_cursor.h"
#include "index/ndx_keys.h"
#include "index/ndx_semaphore.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace vz {

IndexJournal::IndexJournal(AreaIndexes& area) : area_(area), outer_(IndexEngine().Journal) {
  for (auto& slot : area.Opened) {
    if (!slot) continue;
    Saved s;
    s.Index = slot.get();
    s.Anchor = slot->Anchor;
    s.AnchorChanged = slot->AnchorChanged;
    s.CurKey = slot->CurKey;
    slot->File.Size(s.FileSize);
    s.Blocks = slot->Blocks;
    saved_.push_back(std::move(s));
  }
  IndexEngine().Journal = this;
}

IndexJournal::~IndexJournal() {
  IndexEngine().Journal = outer_;
}

void IndexJournal::Keep(NdxFile& x, std::int32_t n) {
  for (Saved& s : saved_) {
    if (s.Index != &x) continue;
    if (static_cast<std::uint64_t>(n) * kNodeSize >= s.FileSize) return;  // new: the cut takes it
    for (const auto& kept : s.Images)
      if (kept.first == n) return;
    std::array<std::uint8_t, kNodeSize> image{};
    std::size_t got = 0;
    x.File.ReadAt(static_cast<std::uint64_t>(n) * kNodeSize, image.data(), kNodeSize, got);
    s.Images.emplace_back(n, image);
    return;
  }
}

bool IndexJournal::TakeBack() {
  bool ok = true;
  for (Saved& s : saved_) {
    NdxFile& x = *s.Index;
    for (auto it = s.Images.rbegin(); it != s.Images.rend(); ++it) {
      const std::uint64_t at = static_cast<std::uint64_t>(it->first) * kNodeSize;
      const std::uint64_t len = std::min<std::uint64_t>(kNodeSize, s.FileSize - at);
      if (x.File.WriteAt(at, it->second.data(), static_cast<std::size_t>(len)) != 0) ok = false;
    }
    std::uint64_t size = 0;
    if (x.File.Size(size) == 0 && size > s.FileSize && x.File.Truncate(s.FileSize) != 0) ok = false;
    x.Anchor = s.Anchor;
    x.AnchorChanged = s.AnchorChanged;
    x.CurKey = s.CurKey;
    MarkKeyWorkedOut(x);
    x.Blocks = s.Blocks;
    x.Path.clear();
    x.Positioned = false;
    // Nodes read or written during the change are no longer what the file
    // holds.
    if (area_.Cache.Owner == x.Order) {
      for (NodeCache::Slot& slot : area_.Cache.Slots) slot.Used = slot.Modified = false;
    }
  }
  return ok;
}

namespace {

void SetEntry(NdxFile& x, std::uint8_t* image, int i, std::int32_t child, std::int32_t rec,
              const std::uint8_t* key) {
  std::uint8_t* e = EntryAt(x, image, i);
  const std::size_t es = static_cast<std::size_t>(x.Anchor.EntrySize());
  std::memset(e, 0, es);
  for (int b = 0; b < 4; ++b)
    e[b] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(child) >> (8 * b));
  for (int b = 0; b < 4; ++b)
    e[4 + b] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(rec) >> (8 * b));
  std::memcpy(e + 8, key, static_cast<std::size_t>(x.Anchor.KeyLen()));
}

void SetCount(std::uint8_t* image, int c) {
  image[0] = static_cast<std::uint8_t>(c);
  image[1] = static_cast<std::uint8_t>(c >> 8);
}

std::int32_t NewNode(NdxFile& x) {
  const std::int32_t n = x.Anchor.NextFree();
  x.Anchor.SetNextFree(n + 1);
  x.AnchorChanged = true;
  x.Blocks = std::max<std::uint64_t>(x.Blocks, static_cast<std::uint64_t>(n) + 1);
  return n;
}

// Inserts (child, rec, key) at position pos of the node at path level
// `level`, splitting nodes up the path as needed.
void InsertAt(NdxFile& x, std::size_t level, int pos, std::int32_t child, std::int32_t rec,
              std::vector<std::uint8_t> key) {
  const int kpn = x.Anchor.KeysPerNode();
  const std::size_t es = static_cast<std::size_t>(x.Anchor.EntrySize());
  const std::size_t keyLen = static_cast<std::size_t>(x.Anchor.KeyLen());
  for (;;) {
    PathLevel& l = x.Path[level];
    std::uint8_t* img = l.Image.data();
    const int count = NodeCount(img);
    const bool leaf = IsLeaf(img) && (level + 1 == x.Path.size());
    // Work on a copy one entry larger than a node can hold.
    std::vector<std::uint8_t> big(4 + (static_cast<std::size_t>(count) + 2) * es, 0);
    std::memcpy(big.data(), img, 4 + static_cast<std::size_t>(count) * es + 4);
    std::uint8_t* at = big.data() + 4 + static_cast<std::size_t>(pos) * es;
    std::memmove(at + es, at, static_cast<std::size_t>(count - pos) * es + (leaf ? 0 : 4));
    std::memset(at, 0, es);
    for (int b = 0; b < 4; ++b)
      at[b] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(child) >> (8 * b));
    for (int b = 0; b < 4; ++b)
      at[4 + b] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(rec) >> (8 * b));
    std::memcpy(at + 8, key.data(), keyLen);
    const int total = count + 1;
    if (total <= kpn) {
      std::memset(img, 0, kNodeSize);
      std::memcpy(img, big.data(), 4 + static_cast<std::size_t>(total) * es + (leaf ? 0 : 4));
      SetCount(img, total);
      WriteNode(x, l.Node, img);
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
    WriteNode(x, newNode, leftImg.data());
    WriteNode(x, l.Node, rightImg.data());
    if (level == 0) {
      // A new root: one entry for the left node, the old root as right-most.
      const std::int32_t root = NewNode(x);
      std::array<std::uint8_t, kNodeSize> rootImg{};
      SetEntry(x, rootImg.data(), 0, newNode, 0, up.data());
      SetCount(rootImg.data(), 1);
      const std::int32_t old = l.Node;
      for (int b = 0; b < 4; ++b)
        rootImg[4 + es + static_cast<std::size_t>(b)] =
            static_cast<std::uint8_t>(static_cast<std::uint32_t>(old) >> (8 * b));
      WriteNode(x, root, rootImg.data());
      x.Anchor.SetRoot(root);
      x.AnchorChanged = true;
      return;
    }
    // One level up: the left node goes in front of this node's entry.
    pos = x.Path[level - 1].Entry;
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
void BackOverHigherRecords(NdxFile& x, const std::uint8_t* key, std::int64_t rec) {
  for (;;) {
    const std::vector<PathLevel> after = x.Path;
    if (!Step(x, kBackward)) return;  // the position stayed where it was
    const PathLevel& leaf = x.Path.back();
    if (KeyCompare(x, KeyOf(x, leaf, leaf.Entry), key) != 0 ||
        EntryRecord(EntryOf(x, leaf, leaf.Entry)) < rec) {
      x.Path = after;
      return;
    }
  }
}

bool RemoveEntry(NdxFile& x, WorkArea& t, const std::string& key, std::int64_t rec);

// Inserts a key for a record into one index. A UNIQUE index keeps, for each
// key, the entry of the lowest record that has it (as a build does): a
// record below the present holder takes its place.
void AppendIndex(NdxFile& x, WorkArea& t, std::string key, std::int64_t rec) {
  if (x.CharKey) key = FitKey(key, x.Anchor.KeyLen());
  const auto* k = reinterpret_cast<const std::uint8_t*>(key.data());
  WriteLock lock(t);
  if (x.Anchor.Unique()) {
    // Is the key there already?
    if (Descend(x, k, false) &&
        KeyCompare(x, KeyOf(x, x.Path.back(), x.Path.back().Entry), k) == 0) {
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
  InsertAt(x, leafLevel, x.Path.back().Entry, 0, static_cast<std::int32_t>(rec),
           std::vector<std::uint8_t>(k, k + x.Anchor.KeyLen()));
  // New nodes or a new root reach the anchor at once.
  if ((x.Anchor.Root() != root || x.Anchor.NextFree() != nextFree) && x.File.Writable())
    WriteAnchor(x, t);
  // Stand on the new entry.
  Descend(x, k, false);
  while (!x.Eof && CurrentRecord(x) != rec && Step(x, kForward)) {
  }
  x.CurKey = key;
  MarkKeyWorkedOut(x);
}

// Removes the entry of (key, record) from one index; true when there was
// one. In a UNIQUE index a record may have no entry (a lower record holds
// its key): nothing to do.
bool RemoveEntry(NdxFile& x, WorkArea& t, const std::string& key, std::int64_t rec) {
  const auto* k = reinterpret_cast<const std::uint8_t*>(key.data());
  WriteLock lock(t);
  auto missing = [&] {
    if (x.Anchor.Unique()) return false;
    RaiseIndexError(212,
                    "Record with key: \"" + key + "\" not in index: " + x.Name + ". [CompareKeys]");
  };
  if (!Descend(x, k, false)) return missing();
  for (;;) {
    if (KeyCompare(x, KeyOf(x, x.Path.back(), x.Path.back().Entry), k) != 0) return missing();
    if (CurrentRecord(x) == rec) break;
    if (!Step(x, kForward)) return missing();
  }
  PathLevel& leaf = x.Path.back();
  std::uint8_t* img = leaf.Image.data();
  const int count = NodeCount(img);
  const std::size_t es = static_cast<std::size_t>(x.Anchor.EntrySize());
  std::uint8_t* at = img + 4 + static_cast<std::size_t>(leaf.Entry) * es;
  std::memmove(at, at + es, static_cast<std::size_t>(count - leaf.Entry - 1) * es);
  std::memset(img + 4 + static_cast<std::size_t>(count - 1) * es, 0, es);
  SetCount(img, count - 1);
  // An emptied leaf stays in the tree; walks pass over it.
  WriteNode(x, leaf.Node, img);
  return true;
}

// Puts the table's current record back as it was after a scan of the file.
class RecordKeeper {
 public:
  explicit RecordKeeper(WorkArea& t)
      : t_(t),
        raw_(t.RawRec),
        native_(NativeRecord(t), NativeRecord(t) + t.NativeSize),
        recNo_(t.RecNo),
        eof_(t.Eof),
        bof_(t.Bof) {}
  ~RecordKeeper() {
    t_.RawRec = raw_;
    t_.UnpackPending = false;
    std::copy(native_.begin(), native_.end(), t_.NativeBuffer);
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
std::int64_t LowestRecordWithKey(NdxFile& x, WorkArea& t, const std::string& key,
                                 std::int64_t except) {
  const RecordKeeper keep(t);
  ForgetCachedRecords(t);
  RefreshRecCount(t);
  for (std::int64_t r = 1; r <= t.RecCount; ++r) {
    if (r == except) continue;
    if (const int rc = ReadRecordBytes(t, r, t.RawRec.data()); rc != 0)
      RaiseIndexError(rc, "File:  " + t.FileName + "  [CompareKeys]");
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

// Keeps every open index of the current area in step with the record at
// the pointer after it was appended (true) or rewritten (false), all or
// nothing: the whole change is one change for other programs (one lock of
// the semaphore), and a change that fails part-way (a write the disk
// refused) is taken back, so that each index is left as it was. The error
// is stored, not dispatched.
void KeepIndexesInStep(bool appended) {
  WorkArea* t = CurrentTable();
  if (!t) return;
  AreaIndexes& a = CurrentAreaIndexes();
  if (!a.Any()) return;
  // The key a rewritten record has in an index now, and the one it had.
  const auto keys = [t](NdxFile& x) {
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
      if (NdxFile* x = a.Opened[static_cast<std::size_t>(i)].get()) {
        const auto [key, old] = keys(*x);
        moved = key != old;
      }
    if (!moved) return;
  }
  try {
    const WriteLock whole(*t);
    IndexJournal journal(a);
    {
      const UndoOnException undo([&] { journal.TakeBack(); });
      for (int i = 1; i <= kMaxOrders; ++i) {
        NdxFile* x = a.Opened[static_cast<std::size_t>(i)].get();
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
      if (Engine().Errors.ErrorCode != 0) throw IndexError{};
    }
    if (appended)
      if (NdxFile* c = ControllingIndex()) c->Bof = c->Eof = false;
  } catch (const IndexError&) {
  }
}

void InsertAppendedKeys() {
  KeepIndexesInStep(true);
  DispatchPending();
}

void UpdateChangedKeys() {
  KeepIndexesInStep(false);
  DispatchPending();
}

}  // namespace vz
