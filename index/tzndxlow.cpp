#include "index/tzndxlow.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "engine/Dbf4.h"
#include "engine/TZDbfLow.h"
#include "engine/tzmsg.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace vz {

IndexState& CreateIndexState() {
  std::unique_ptr<ContextExtension>& slot = Engine().IndexLayer;
  if (!slot) slot = std::make_unique<IndexState>();
  return static_cast<IndexState&>(*slot);
}

void IndexState::Reset() {
  for (AreaIndexes& a : Areas) a = AreaIndexes{};
  Settings = IndexSettings{};
  Progress = BuildProgress{};
  RunItems = kDefaultRunItems;
  SyncAttempts = kDefaultSyncAttempts;
  Opening = nullptr;
  Journal = nullptr;
}

namespace {

std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
void PutU16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace

// --- Anchor ------------------------------------------------------------------------

std::int32_t NdxAnchor::Root() const { return static_cast<std::int32_t>(U32(raw)); }
void NdxAnchor::SetRoot(std::int32_t n) { PutU32(raw, static_cast<std::uint32_t>(n)); }
std::int32_t NdxAnchor::NextFree() const { return static_cast<std::int32_t>(U32(raw + 4)); }
void NdxAnchor::SetNextFree(std::int32_t n) { PutU32(raw + 4, static_cast<std::uint32_t>(n)); }
int NdxAnchor::KeyLen() const { return static_cast<std::int16_t>(U16(raw + 12)); }
void NdxAnchor::SetKeyLen(int n) { PutU16(raw + 12, static_cast<std::uint32_t>(n)); }
int NdxAnchor::KeysPerNode() const { return U16(raw + 14); }
void NdxAnchor::SetKeysPerNode(int n) { PutU16(raw + 14, static_cast<std::uint32_t>(n)); }
int NdxAnchor::TypeCode() const { return U16(raw + 16); }
void NdxAnchor::SetTypeCode(int n) { PutU16(raw + 16, static_cast<std::uint32_t>(n)); }
int NdxAnchor::EntrySize() const { return U16(raw + 18); }
void NdxAnchor::SetEntrySize(int n) { PutU16(raw + 18, static_cast<std::uint32_t>(n)); }

IND::~IND() { ReleaseExpr(Expr); }

bool AreaIndexes::Any() const {
  for (int i = 1; i <= kMaxOrders; ++i)
    if (Opened[i]) return true;
  return false;
}

void IndexRaise(int code, const std::string& detail) {
  StoreError(code, detail);
  throw IndexFailure{};
}

// --- Keys --------------------------------------------------------------------------

int KeyCompare(const IND& x, const std::uint8_t* a, const std::uint8_t* b) {
  if (x.CharKey) {
    const int c = std::memcmp(a, b, static_cast<std::size_t>(x.Anchor.KeyLen()));
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  double da, db;
  std::memcpy(&da, a, 8);
  std::memcpy(&db, b, 8);
  return da < db ? -1 : da > db ? 1 : 0;
}

std::string ComputeKey(IND& x, bool oemTable) {
  if (x.ExprIndex) {
    if (!x.Expr) return std::string();
    KeyValue k = EvaluateKey(*x.Expr, oemTable);
    if (x.CharKey) return std::move(k.text);
    std::string bytes(8, '\0');
    std::memcpy(bytes.data(), &k.number, 8);
    return bytes;
  }
  std::string text = x.Maker ? x.Maker() : std::string();
  if (text.size() > 100) text.resize(100);
  if (x.Soundex) text = Soundex(text);
  if (x.Descending)
    for (char& c : text) c = static_cast<char>(255 - static_cast<unsigned char>(c));
  return text;
}

std::string FitKey(const std::string& key, int keyLen) {
  std::string k = key.substr(0, static_cast<std::size_t>(keyLen));
  if (static_cast<int>(k.size()) < keyLen) k.append(static_cast<std::size_t>(keyLen) - k.size(), ' ');
  return k;
}

// --- Nodes -------------------------------------------------------------------------

int NodeCount(const std::uint8_t* image) { return U16(image); }

std::uint8_t* EntryAt(IND& x, std::uint8_t* image, int i) {
  return image + 4 + static_cast<std::size_t>(i) * static_cast<std::size_t>(x.Anchor.EntrySize());
}
const std::uint8_t* EntryAt(const IND& x, const std::uint8_t* image, int i) {
  return image + 4 + static_cast<std::size_t>(i) * static_cast<std::size_t>(x.Anchor.EntrySize());
}
std::int32_t EntryChild(const std::uint8_t* entry) { return static_cast<std::int32_t>(U32(entry)); }
std::int32_t EntryRecord(const std::uint8_t* entry) { return static_cast<std::int32_t>(U32(entry + 4)); }
std::int32_t RightChild(const IND& x, const std::uint8_t* image) {
  return static_cast<std::int32_t>(U32(EntryAt(x, image, NodeCount(image))));
}
bool IsLeaf(const std::uint8_t* image) { return NodeCount(image) == 0 || U32(image + 4) == 0; }

namespace {

[[noreturn]] void Damaged(const IND& x, std::int32_t n) {
  IndexRaise(222, "Corrupted index file: " + x.Name + " (node " + Str(n) + ") [SeekAndRead]");
}

// Whether node n lies inside the index file. The node count known is the
// file's size when it was last looked at; another program may have added
// nodes since (in shared use it can begin while a read is under way), so a
// node beyond it is looked for in the file as it is now before it counts
// as damage.
bool InsideFile(IND& x, std::int32_t n) {
  if (static_cast<std::uint64_t>(n) < x.Blocks) return true;
  std::uint64_t size = 0;
  if (x.File.Size(size) == 0 && size / kNodeSize > x.Blocks) x.Blocks = size / kNodeSize;
  return static_cast<std::uint64_t>(n) < x.Blocks;
}

// Checks a node read from the file: its entry count, and that every child
// of an interior node lies inside the file.
void CheckNode(IND& x, std::int32_t n, const std::uint8_t* image) {
  const int count = NodeCount(image);
  if (count > x.Anchor.KeysPerNode()) Damaged(x, n);
  if (IsLeaf(image)) return;
  const auto inside = [&](std::int32_t c) { return c >= 1 && InsideFile(x, c); };
  for (int i = 0; i < count; ++i)
    if (!inside(EntryChild(EntryAt(x, image, i)))) Damaged(x, n);
  if (!inside(RightChild(x, image))) Damaged(x, n);
}

bool UsesCache(const IND& x) {
  const AreaIndexes& a = IndexEngine().Areas[static_cast<std::size_t>(x.Area)];
  return a.Cache.Enabled() && a.Work[1] == &x && !x.NoCache;
}

// The cache holds the nodes of one order: another order taking it over
// starts from an empty cache, since node numbers mean nothing across files.
void ClaimCache(NodeCache& cache, const IND& x) {
  if (cache.owner == x.Order) return;
  for (NodeCache::Slot& s : cache.Slots) s.used = s.modified = false;
  cache.owner = x.Order;
}

// Copies node bytes out of the index's mapping (mapping the file, or
// mapping it again when it grew). False when the mapping cannot serve
// them: the caller reads the file.
bool MappedNode(IND& x, std::uint64_t at, std::uint8_t* image) {
  if (at + kNodeSize > x.Map.Length()) {
    std::uint64_t size = 0;
    if (x.File.Size(size) != 0 || at + kNodeSize > size || size == x.MapRefusedSize) return false;
    if (x.Map.Map(x.File, size) != 0) {
      x.MapRefusedSize = size;
      return false;
    }
    x.MapRefusedSize = UINT64_MAX;
  }
  return x.Map.Copy(at, image, kNodeSize);
}

}  // namespace

void SetUpNodeCache(AreaIndexes& a, int bytes) {
  a.Cache.Slots.clear();
  a.Cache.owner = 0;
  if (bytes <= 0) return;
  int size = bytes - bytes % static_cast<int>(kNodeSize);
  if (size < 2048) size = 2048;
  a.Cache.Slots.resize(static_cast<std::size_t>(size) / kNodeSize);
}

void SeekAndRead(IND& x, std::int32_t n, std::uint8_t* image) {
  if (n == 0) {
    IndexRaise(254, "Invalid Node Number (0) in DBF Area " + Str(x.Area) + ", Order " +
                        Str(x.Order) + " " + x.Name + " [GetNode]");
  }
  if (n < 0 || !InsideFile(x, n)) Damaged(x, n);
  for (const PathLevel& l : x.Path) {
    if (l.node == n) {
      std::memcpy(image, l.image.data(), kNodeSize);
      return;
    }
  }
  NodeCache& cache = IndexEngine().Areas[static_cast<std::size_t>(x.Area)].Cache;
  const bool cached = UsesCache(x);
  if (cached) {
    ClaimCache(cache, x);
    for (std::size_t i = 0; i < cache.Slots.size(); ++i) {
      if (cache.Slots[i].used && cache.Slots[i].node == n) {
        // A hit moves one place toward the front.
        if (i > 0) std::swap(cache.Slots[i], cache.Slots[i - 1]), --i;
        std::memcpy(image, cache.Slots[i].image.data(), kNodeSize);
        return;
      }
    }
  }
  std::size_t got = 0;
  const std::uint64_t at = static_cast<std::uint64_t>(n) * kNodeSize;
  if (MappedNode(x, at, image)) {
    got = kNodeSize;
  } else {
    const int rc = x.File.ReadAt(at, image, kNodeSize, got);
    if (rc != 0) IndexRaise(rc, "Error reading index file: " + x.Name + " [SeekAndRead]");
  }
  if (got < kNodeSize) Damaged(x, n);
  image[2] = image[3] = 0;  // the modified mark is clear after a read
  CheckNode(x, n, image);
  if (cached) {
    std::size_t victim = cache.Slots.size();
    for (std::size_t i = 0; i < cache.Slots.size(); ++i)
      if (!cache.Slots[i].used) {
        victim = i;
        break;
      }
    if (victim == cache.Slots.size()) {
      victim = cache.Slots.size() - 1;
      NodeCache::Slot& old = cache.Slots[victim];
      if (old.modified) {
        const int wrc = x.File.WriteAt(static_cast<std::uint64_t>(old.node) * kNodeSize,
                                       old.image.data(), kNodeSize);
        if (wrc != 0) IndexRaise(wrc, "Error writing index file: " + x.Name + " [SeekAndWrite]");
      }
    }
    NodeCache::Slot& s = cache.Slots[victim];
    s.used = true;
    s.modified = false;
    s.node = n;
    std::memcpy(s.image.data(), image, kNodeSize);
  }
}

// --- Journal -------------------------------------------------------------------------

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

void IndexJournal::Keep(IND& x, std::int32_t n) {
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
    IND& x = *s.Index;
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
    if (area_.Cache.owner == x.Order) {
      for (NodeCache::Slot& slot : area_.Cache.Slots) slot.used = slot.modified = false;
    }
  }
  return ok;
}

void SeekAndWrite(IND& x, std::int32_t n, const std::uint8_t* image) {
  if (IndexJournal* j = IndexEngine().Journal) j->Keep(x, n);
  std::array<std::uint8_t, kNodeSize> out;
  std::memcpy(out.data(), image, kNodeSize);
  out[2] = out[3] = 0;
  const int rc = x.File.WriteAt(static_cast<std::uint64_t>(n) * kNodeSize, out.data(), kNodeSize);
  if (rc != 0) IndexRaise(rc, "Error writing index file: " + x.Name + " [SeekAndWrite]");
  if (static_cast<std::uint64_t>(n) >= x.Blocks) x.Blocks = static_cast<std::uint64_t>(n) + 1;
  for (PathLevel& l : x.Path)
    if (l.node == n) std::memcpy(l.image.data(), out.data(), kNodeSize);
  // Only this index's own nodes in the cache are refreshed: the cache may
  // hold another order's node of the same number.
  NodeCache& cache = IndexEngine().Areas[static_cast<std::size_t>(x.Area)].Cache;
  if (cache.owner != x.Order) return;
  for (NodeCache::Slot& s : cache.Slots)
    if (s.used && s.node == n) {
      std::memcpy(s.image.data(), out.data(), kNodeSize);
      s.modified = false;
    }
}

// --- Anchor --------------------------------------------------------------------------

void WriteAnchorNode(IND& x, WorkArea& table) {
  std::array<std::uint8_t, kNodeSize> block{};
  std::memcpy(block.data(), x.Anchor.raw, 24);
  std::string expr = x.Expression.substr(0, 100);
  if (table.Oem) expr = platform::AnsiToOem(expr);
  std::memcpy(block.data() + 24, expr.data(), expr.size());
  const std::uint32_t count = static_cast<std::uint32_t>(table.RecCount < 0 ? 0 : table.RecCount);
  PutU32(block.data() + 488, ~count);
  PutU32(block.data() + 492, count);
  std::string name = platform::NameOf(table.FileName).substr(0, 12);
  if (table.Oem) name = platform::AnsiToOem(name);
  std::memcpy(block.data() + 496, name.data(), name.size());
  if (IndexJournal* j = IndexEngine().Journal) j->Keep(x, 0);
  const int rc = x.File.WriteAt(0, block.data(), kNodeSize);
  if (rc != 0) IndexRaise(rc, "Error writing index file: " + x.Name + " [WriteAnchorNode]");
  if (IndexEngine().Settings.Flush) x.File.Commit();
  x.AnchorChanged = false;
}

void ReadAnchor(IND& x) {
  std::size_t got = 0;
  std::uint8_t raw[24];
  const int rc = x.File.ReadAt(0, raw, 24, got);
  if (rc != 0 || got < 24) IndexRaise(rc ? rc : 100, "Error reading index file: " + x.Name + " [ReadAnchor]");
  // A file without a type letter keeps the one its expression gave at open.
  const char letter = x.Anchor.TypeLetter();
  std::memcpy(x.Anchor.raw, raw, 24);
  const char read = x.Anchor.TypeLetter();
  if (read != 'C' && read != 'N' && read != 'F' && read != 'D') x.Anchor.SetTypeLetter(letter);
  std::uint64_t size = 0;
  x.File.Size(size);
  x.Blocks = std::max<std::uint64_t>(static_cast<std::uint64_t>(std::max(0, x.Anchor.NextFree())),
                                     size / kNodeSize);
  x.Path.clear();
  x.Positioned = false;
}

// --- Semaphores ----------------------------------------------------------------------
//
// The semaphore file beside the table (the table's name with the extension
// .@S@) holds, little-endian: "VZS1" at 0, the change counter at 4 and the
// number of logins at 8. Locks, all byte ranges of one byte:
//   16  the counters, taken exclusively while they are updated;
//   17  the indexes: shared by a reader that waits for a writer, exclusive
//       while a writer changes them (the counter is odd while a writer
//       works and even again when it is done);
//   18  presence: shared by every program logged in, so an exclusive probe
//       tells whether anybody else uses the table.
// Readers look at the counter at the start of every read (a nested read
// counts with the outermost one); a changed counter makes them re-read
// their anchors. No view of an index is trusted past that: a reader that
// went on with an anchor a few milliseconds old would walk another
// program's new nodes from its old root and node count.

namespace {

constexpr std::uint64_t kCounterLock = 16;
constexpr std::uint64_t kIndexLock = 17;
constexpr std::uint64_t kPresenceLock = 18;

[[noreturn]] void SemError(int code, const std::string& text, const std::string& name,
                           const char* action) {
  IndexRaise(code, text + name + " Action=" + action + " [Database Semaphore]");
}

// Takes an exclusive lock, trying up to 1000 times with a short pause.
void LockWithRetries(SemaphoreState& s, std::uint64_t offset, const char* action, bool shared) {
  int rc = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    rc = shared ? s.File.LockShared(offset, 1) : s.File.Lock(offset, 1);
    if (rc == 0) return;
    platform::PauseBeforeRetry(std::chrono::milliseconds(10));
  }
  IndexRaise(1202, "10 second timeout: Cannot lock index semaphore file: " + s.Name + " " + action +
                       "\r\nPossible cause: Network lock limit exceeded\r\n Lock result code: " +
                       Str(rc));
}

void Unlock(SemaphoreState& s, std::uint64_t offset, const char* action) {
  if (const int rc = s.File.Unlock(offset, 1); rc != 0)
    IndexRaise(1202, "Cannot unlock index semaphore file: " + s.Name + " " + action +
                         " Reason code: " + Str(rc));
}

std::uint32_t ReadCounter(SemaphoreState& s, const char* action) {
  if (s.Map.Length() >= 8) {
    // Writers store the counter with one 4-byte write: it is read whole.
    platform::MappingGuard guard;
    const auto* at = reinterpret_cast<const std::uint32_t*>(s.Map.Data() + 4);
    std::uint32_t v = __atomic_load_n(at, __ATOMIC_ACQUIRE);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    if (!guard.Faulted()) return v;
    s.Map.Unmap();  // the file was cut: ask it
  }
  std::uint8_t b[4] = {};
  std::size_t got = 0;
  if (const int rc = s.File.ReadAt(4, b, 4, got); rc != 0) SemError(rc, "Cannot read: ", s.Name, action);
  return got == 4 ? U32(b) : 0;
}

void WriteCounter(SemaphoreState& s, std::uint64_t offset, std::uint32_t v, const char* action) {
  if (!s.File.Writable()) return;
  std::uint8_t b[4];
  PutU32(b, v);
  if (const int rc = s.File.WriteAt(offset, b, 4); rc != 0)
    SemError(rc, "Cannot write to: ", s.Name, action);
}

}  // namespace

bool SharedUse(const WorkArea& table) {
  return Engine().Settings.NetworkMode && !table.Exclusive;
}

std::string SemaphoreFileName(const WorkArea& table) {
  std::string base = table.OpenName;
  const std::size_t start = platform::NameStart(base);
  const std::size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot >= start) base.resize(dot);
  std::string name = base + ".@S@";
  if (!IndexEngine().Settings.SemaphoreDir.empty()) {
    std::string dir = IndexEngine().Settings.SemaphoreDir;
    if (dir.back() != '/') dir += '/';
    name = dir + platform::NameOf(name);
  }
  return name;
}

const char* ActionName(SemaphoreAction action) {
  switch (action) {
    case SemaphoreAction::Login: return "LOGIN";
    case SemaphoreAction::Logout: return "LOGOUT";
    case SemaphoreAction::IncRead: return "INCREAD";
    case SemaphoreAction::DecRead: return "DECREAD";
    case SemaphoreAction::Lock: return "LOCKSEMAPHORE";
    case SemaphoreAction::Unlock: return "UNLOCKSEMAPHORE";
  }
  return "";
}

bool HandleSemafore(WorkArea& table, AreaIndexes& a, SemaphoreAction step) {
  SemaphoreState& s = a.Sem;
  const char* action = ActionName(step);
  if (step == SemaphoreAction::Login) {
    if (s.LoggedIn) return false;
    s.Name = SemaphoreFileName(table);
    int rc = 0;
    if (IndexEngine().Settings.ReadOnlyUse) {
      // Nobody uses the indexes while there is no semaphore file: nothing
      // to take part in, and nothing is made.
      rc = s.File.Open(s.Name, platform::kModeRead | platform::kShareDenyNone);
      if (rc == platform::kFileNotFound || rc == platform::kPathNotFound) return false;
    } else {
      rc = s.File.Open(s.Name, platform::kModeShared);
      if (rc == platform::kFileNotFound) rc = s.File.Create(s.Name, platform::kModeShared);
      // A table in a folder we may only read: take part as a reader.
      if (rc == platform::kAccessDenied)
        rc = s.File.Open(s.Name, platform::kModeRead | platform::kShareDenyNone);
    }
    if (rc != 0) SemError(rc, "Cannot open/create: ", s.Name, action);
    LockWithRetries(s, kCounterLock, action, false);
    std::uint8_t head[12] = {};
    std::size_t got = 0;
    s.File.ReadAt(0, head, sizeof head, got);
    if (got < 12 || std::memcmp(head, "VZS1", 4) != 0) {
      std::memset(head, 0, sizeof head);
      std::memcpy(head, "VZS1", 4);
    }
    PutU32(head + 8, U32(head + 8) + 1);
    if (s.File.Writable()) s.File.WriteAt(0, head, sizeof head);
    Unlock(s, kCounterLock, action);
    s.File.LockShared(kPresenceLock, 1);
    std::uint64_t size = 0;
    if (s.File.Size(size) == 0 && size >= 8) s.Map.Map(s.File, 8);
    s.SeenCounter = U32(head + 4);
    s.LoggedIn = true;
    return false;
  }
  if (!s.LoggedIn) return false;
  if (step == SemaphoreAction::Logout) {
    if (s.File.Writable() && s.File.Lock(kCounterLock, 1) == 0) {
      std::uint8_t n[4] = {};
      std::size_t got = 0;
      s.File.ReadAt(8, n, 4, got);
      if (got == 4 && U32(n) > 0) WriteCounter(s, 8, U32(n) - 1, action);
      s.File.Unlock(kCounterLock, 1);
    }
    s.File.Close();
    s = SemaphoreState{};
    return false;
  }
  if (step == SemaphoreAction::IncRead) {
    ++s.Reads;
    if (s.Reads > 1) return false;
    std::uint32_t counter = ReadCounter(s, action);
    if (counter & 1) {
      // A writer is at work: wait until it is done.
      LockWithRetries(s, kIndexLock, action, true);
      counter = ReadCounter(s, action);
      Unlock(s, kIndexLock, action);
    }
    const bool changed = counter != s.SeenCounter;
    s.SeenCounter = counter;
    return changed;
  }
  if (step == SemaphoreAction::DecRead) {
    if (s.Reads <= 0) IndexRaise(1202, "Unbalanced IncRead/DecRead for semaphore file: " + s.Name);
    --s.Reads;
    return false;
  }
  if (step == SemaphoreAction::Lock) {
    ++s.Locks;
    if (s.Locks > 1) return false;
    std::uint32_t counter = 0;
    bool locked = false;
    try {
      LockWithRetries(s, kIndexLock, action, false);
      locked = true;
      counter = ReadCounter(s, action);
      WriteCounter(s, 4, (counter | 1), action);
    } catch (const IndexFailure&) {
      // Nothing was changed: the lock is not kept (other programs would
      // wait for it), and the next change takes it anew.
      --s.Locks;
      if (locked) s.File.Unlock(kIndexLock, 1);
      throw;
    }
    return counter != s.SeenCounter && !(counter & 1) && counter != (s.SeenCounter | 1);
  }
  if (step == SemaphoreAction::Unlock) {
    if (s.Locks <= 0) IndexRaise(1202, "Unbalanced Lock/Unlock for semaphore file: " + s.Name);
    --s.Locks;
    if (s.Locks > 0) return false;
    // The change is made. The lock is given up whatever happens to the
    // counter: a counter that cannot be read or written (a full disk, a
    // failing device) stays odd, and other programs take an odd counter
    // they did not see before for a change too.
    std::uint8_t b[4] = {};
    std::size_t got = 0;
    std::uint32_t counter = s.SeenCounter;
    if (s.File.ReadAt(4, b, 4, got) == 0 && got == 4) counter = U32(b);
    const std::uint32_t next = (counter | 1) + 1;
    if (s.File.Writable()) {
      PutU32(b, next);
      s.File.WriteAt(4, b, 4);
    }
    s.SeenCounter = next;
    Unlock(s, kIndexLock, action);
    return false;
  }
  return false;
}

// --- Names ---------------------------------------------------------------------------

std::string TakeIndexOptions(const std::string& text, IndexOptions& options) {
  std::string up = platform::AnsiUpper(text) + " ";
  std::string original = text + " ";
  const std::size_t tail = platform::NameStart(up);
  auto take = [&](const char* word) {
    const std::size_t n = std::strlen(word);
    bool found = false;
    for (std::size_t pos = up.find(word, tail); pos != std::string::npos; pos = up.find(word, pos)) {
      const char after = pos + n < up.size() ? up[pos + n] : ' ';
      const bool wordChar = (after >= 'A' && after <= 'Z') || (after >= '0' && after <= '9') ||
                            after == '_' || after == '\\';
      if (wordChar) {
        ++pos;
        continue;
      }
      up.erase(pos, n);
      original.erase(pos, n);
      found = true;
    }
    return found;
  };
  options.Unique = take(" UNIQUE");
  options.NoCache = take(" NOCACHE");
  options.Soundex = take(" SOUNDEX");
  options.Descending = take(" DESCENDING");
  return Trim(original);
}

bool SameFile(const std::string& a, const std::string& b) {
  if (platform::AsciiUpper(a) == platform::AsciiUpper(b)) return true;
  std::error_code ec;
  const bool same = std::filesystem::equivalent(a, b, ec);
  return !ec && same;
}

std::string IndexFileName(const std::string& name, const WorkArea* table) {
  std::string n = Trim(name);
  if (n.empty()) return n;
  n = AddDefaultExtension(n, "NDX");
  if (platform::NameStart(n) == 0 && table) n = platform::DirectoryOf(table->OpenName) + n;
  return n;
}

// --- Build ---------------------------------------------------------------------------

namespace {

// A sorted run of items (key bytes, then the record number) in the run file.
struct Run {
  std::uint64_t next = 0;  // read position in the run file
  std::uint64_t end = 0;
  std::vector<std::uint8_t> buffer;
  std::size_t have = 0, at = 0;
};

class IndexBuilder {
 public:
  IndexBuilder(WorkArea& table, IND& x, std::size_t itemSize)
      : table_(table), x_(x), keyLen_(static_cast<std::size_t>(x.Anchor.KeyLen())), itemSize_(itemSize) {}

  void Build(std::int64_t records) {
    records_ = records;
    const int steps = IndexEngine().Progress.Step ? IndexEngine().Progress.Steps : 0;
    interval_ = std::max<std::int64_t>(2, (records / std::max(1, steps)) * 2);
    stepsLeft_ = steps;
    ExtractKeys();
    WriteNodes();
    while (stepsLeft_ > 0) Step();
  }

  std::int32_t NodesWritten() const { return written_; }

 private:
  void Step() {
    if (stepsLeft_ <= 0) return;
    --stepsLeft_;
    IndexEngine().Progress.Step();
  }

  bool Less(const std::uint8_t* a, const std::uint8_t* b) const {
    const int c = KeyCompare(x_, a, b);
    if (c != 0) return c < 0;
    return U32(a + keyLen_) < U32(b + keyLen_);
  }

  void ExtractKeys() {
    const std::size_t runItems = std::max<std::size_t>(1, IndexEngine().RunItems);
    // A run never holds more items than the table has records, nor a chunk
    // more records.
    const std::size_t records = static_cast<std::size_t>(std::max<std::int64_t>(1, records_));
    items_.resize(std::min(runItems, records) * itemSize_);
    order_.reserve(std::min(runItems, records));
    const std::size_t recLen = table_.RecordLen;
    const std::size_t chunkRecords =
        std::min(records, std::max<std::size_t>(1, (65512 / 2) / recLen));
    std::vector<std::uint8_t> chunk(chunkRecords * recLen);
    std::int64_t r = 1;
    while (r <= records_) {
      const std::size_t want = static_cast<std::size_t>(
          std::min<std::int64_t>(static_cast<std::int64_t>(chunkRecords), records_ - r + 1));
      std::size_t got = 0;
      const int rc = table_.File.ReadAt(RecordOffset(table_, r), chunk.data(), want * recLen, got);
      if (rc != 0 || got < want * recLen)
        IndexRaise(rc ? rc : 213, "File:  " + table_.FileName + "  [MakeIndex]");
      for (std::size_t i = 0; i < want; ++i, ++r) {
        std::uint8_t* rec = chunk.data() + i * recLen;
        std::memcpy(table_.RawRec.data(), rec, recLen);
        if (recLen > 1) {
          if (table_.Decode) table_.Decode(table_.RawRec.data() + 1, recLen - 1);
          if (table_.Oem) platform::OemToAnsi(table_.RawRec.data() + 1, recLen - 1);
        }
        table_.RecNo = r;
        table_.Eof = table_.Bof = false;
        if (!x_.ExprIndex) Unpack(table_);
        std::string key = ComputeKey(x_, table_.Oem);
        if (Engine().Errors.ErrorCode != 0) throw IndexFailure{};
        if (x_.CharKey) key = FitKey(key, static_cast<int>(keyLen_));
        if (order_.size() == runItems) SpillRun();
        std::uint8_t* item = items_.data() + order_.size() * itemSize_;
        std::memcpy(item, key.data(), keyLen_);
        PutU32(item + keyLen_, static_cast<std::uint32_t>(r));
        order_.push_back(static_cast<std::uint32_t>(order_.size()));
        if (r % interval_ == 0) Step();
      }
    }
  }

  void SortRun() {
    std::sort(order_.begin(), order_.end(), [this](std::uint32_t a, std::uint32_t b) {
      return Less(items_.data() + a * itemSize_, items_.data() + b * itemSize_);
    });
  }

  void SpillRun() {
    if (!spill_.file().IsOpen()) {
      const char* tmp = std::getenv("TMPDIR");
      const int rc = spill_.Create(tmp && *tmp ? tmp : "/tmp", "TZP");
      if (rc != 0) IndexRaise(rc, "Cannot create the sort file [MakeIndex]");
    }
    SortRun();
    Run run;
    run.next = spilled_;
    std::vector<std::uint8_t> out;
    out.reserve(order_.size() * itemSize_);
    for (std::uint32_t i : order_) {
      const std::uint8_t* item = items_.data() + i * itemSize_;
      out.insert(out.end(), item, item + itemSize_);
    }
    const int rc = spill_.file().WriteAt(spilled_, out.data(), out.size());
    if (rc != 0) IndexRaise(rc, "Cannot write the sort file [MakeIndex]");
    spilled_ += out.size();
    run.end = spilled_;
    runs_.push_back(std::move(run));
    order_.clear();
  }

  // Calls `emit` with each item in key order.
  template <typename F>
  void Stream(F emit) {
    if (runs_.empty()) {
      SortRun();
      for (std::uint32_t i : order_) emit(items_.data() + i * itemSize_);
      return;
    }
    if (!order_.empty()) SpillRun();
    std::vector<std::uint8_t>().swap(items_);
    // Merge buffers: one megabyte shared by the runs, each at least one item.
    const std::size_t share = std::max(itemSize_, (std::size_t{1} << 20) / runs_.size() / itemSize_ * itemSize_);
    for (Run& run : runs_) run.buffer.resize(share);
    auto fill = [&](Run& run) {
      run.have = run.at = 0;
      if (run.next >= run.end) return false;
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(share, run.end - run.next));
      std::size_t got = 0;
      const int rc = spill_.file().ReadAt(run.next, run.buffer.data(), want, got);
      if (rc != 0 || got < want) IndexRaise(rc ? rc : 100, "Cannot read the sort file [MakeIndex]");
      run.next += got;
      run.have = got;
      return got > 0;
    };
    // A tournament over the runs' first items: every inner node of the tree
    // (the runs are its leaves, k + i for run i) keeps the run that lost the
    // match played there, slot 0 the overall winner. When the winner's next
    // item comes up, only the matches on its way to the root are played
    // again: log2(k) comparisons per item, about half of what a heap needs.
    const std::size_t k = runs_.size();
    std::vector<char> live(k);
    for (std::size_t i = 0; i < k; ++i) live[i] = fill(runs_[i]);
    auto first = [&](std::size_t a, std::size_t b) {  // a's item comes before b's
      if (!live[a]) return false;
      if (!live[b]) return true;
      return Less(runs_[a].buffer.data() + runs_[a].at, runs_[b].buffer.data() + runs_[b].at);
    };
    std::vector<std::size_t> losers(k);
    {
      std::vector<std::size_t> winners(2 * k);
      for (std::size_t i = 0; i < k; ++i) winners[k + i] = i;
      for (std::size_t node = k - 1; node >= 1; --node) {
        const std::size_t a = winners[2 * node], b = winners[2 * node + 1];
        const bool aFirst = first(a, b);
        winners[node] = aFirst ? a : b;
        losers[node] = aFirst ? b : a;
      }
      losers[0] = k > 1 ? winners[1] : 0;
    }
    while (live[losers[0]]) {
      std::size_t winner = losers[0];
      Run& run = runs_[winner];
      emit(run.buffer.data() + run.at);
      run.at += itemSize_;
      if (run.at >= run.have) live[winner] = fill(run);
      for (std::size_t node = (k + winner) / 2; node >= 1; node /= 2)
        if (first(losers[node], winner)) std::swap(losers[node], winner);
      losers[0] = winner;
    }
  }

  void Flush(bool all) {
    const std::size_t whole = all ? out_.size() : out_.size() - out_.size() % 65536;
    if (whole == 0) return;
    const int rc = x_.File.WriteAt(outAt_, out_.data(), whole);
    if (rc != 0) IndexRaise(rc, "Error writing index file: " + x_.Name + " [MakeIndex]");
    outAt_ += whole;
    out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(whole));
  }

  std::int32_t WriteNode(std::vector<std::uint8_t>& node) {
    out_.insert(out_.end(), node.begin(), node.end());
    if (out_.size() >= 65536) Flush(false);
    std::fill(node.begin(), node.end(), 0);
    return ++written_;
  }

  void WriteNodes() {
    const int kpn = x_.Anchor.KeysPerNode();
    const std::size_t es = static_cast<std::size_t>(x_.Anchor.EntrySize());
    // One node image per level: 2 plus how often the count divides by the
    // keys per node.
    std::size_t levels = 2;
    for (std::int64_t n = records_ / kpn; n > 0; n /= kpn) ++levels;
    std::vector<std::vector<std::uint8_t>> stack(levels, std::vector<std::uint8_t>(kNodeSize, 0));
    auto count = [](const std::vector<std::uint8_t>& n) { return static_cast<int>(U16(n.data())); };
    auto setCount = [](std::vector<std::uint8_t>& n, int c) { PutU16(n.data(), static_cast<std::uint32_t>(c)); };
    auto entry = [es](std::vector<std::uint8_t>& n, int i) { return n.data() + 4 + static_cast<std::size_t>(i) * es; };
    outAt_ = kNodeSize;
    std::vector<std::uint8_t> previous;
    bool havePrevious = false;
    std::int64_t itemCount = 0;
    const bool unique = x_.Anchor.Unique();
    Stream([&](const std::uint8_t* item) {
      ++itemCount;
      if (itemCount % interval_ == 0) Step();
      if (unique && havePrevious && KeyCompare(x_, item, previous.data()) == 0) return;
      previous.assign(item, item + keyLen_);
      havePrevious = true;
      std::vector<std::uint8_t>& leaf = stack[0];
      if (count(leaf) == kpn) {
        std::vector<std::uint8_t> last(entry(leaf, kpn - 1) + 8, entry(leaf, kpn - 1) + 8 + keyLen_);
        std::int32_t child = WriteNode(leaf);
        for (std::size_t lvl = 1;; ++lvl) {
          if (lvl >= stack.size()) stack.emplace_back(kNodeSize, 0);
          std::vector<std::uint8_t>& parent = stack[lvl];
          const int slot = count(parent);
          PutU32(entry(parent, slot), static_cast<std::uint32_t>(child));
          if (slot == kpn) {
            child = WriteNode(parent);  // the slot was its right-most child
            continue;
          }
          setCount(parent, slot + 1);
          std::memcpy(entry(parent, slot) + 8, last.data(), keyLen_);
          break;
        }
      }
      const int c = count(leaf);
      std::uint8_t* e = entry(leaf, c);
      PutU32(e, 0);
      PutU32(e + 4, U32(item + keyLen_));
      std::memcpy(e + 8, item, keyLen_);
      setCount(leaf, c + 1);
    });
    // The remaining levels, bottom-up; levels without entries are skipped.
    std::int32_t last = WriteNode(stack[0]);
    for (std::size_t lvl = 1; lvl < stack.size(); ++lvl) {
      if (count(stack[lvl]) == 0) continue;
      PutU32(entry(stack[lvl], count(stack[lvl])), static_cast<std::uint32_t>(last));
      last = WriteNode(stack[lvl]);
    }
    Flush(true);
  }

  WorkArea& table_;
  IND& x_;
  std::size_t keyLen_;
  std::size_t itemSize_;
  std::int64_t records_ = 0;
  std::int64_t interval_ = 2;
  int stepsLeft_ = 0;
  std::vector<std::uint8_t> items_;
  std::vector<std::uint32_t> order_;
  platform::TempFile spill_;
  std::uint64_t spilled_ = 0;
  std::vector<Run> runs_;
  std::vector<std::uint8_t> out_;
  std::uint64_t outAt_ = 0;
  std::int32_t written_ = 0;
};

// Puts the table back on the record it stood on before a build.
struct TablePosition {
  explicit TablePosition(WorkArea& t) : table(t), recNo(t.RecNo), eof(t.Eof), bof(t.Bof) {}
  ~TablePosition() {
    ScopedErrorDispatch quiet(false);
    // The build's error, stored to be dispatched at its end, must outlive
    // the move back (a GO clears the error state on entry).
    const std::uint16_t code = Engine().Errors.ErrorCode;
    const std::string detail = Engine().Errors.ErrorDetail;
    const std::uint16_t message = Engine().Errors.MessageCode;
    const bool undispatched = Engine().Errors.Undispatched;
    if (recNo >= 1 && recNo <= table.RecCount && !eof) {
      if (GetDbfRecord(table, recNo)) Unpack(table);
    } else {
      table.RecNo = recNo;
      const int saved = Engine().Areas.Current;
      ClearRecord();
      Engine().Areas.Current = saved;
    }
    table.Eof = eof;
    table.Bof = bof;
    Engine().Errors.ErrorCode = code;
    Engine().Errors.ErrorDetail = detail;
    Engine().Errors.MessageCode = message;
    Engine().Errors.Undispatched = undispatched;
  }
  WorkArea& table;
  std::int64_t recNo;
  bool eof, bof;
};

}  // namespace

void MakeIndex(const std::string& fileName, const BuildOptions& options) {
  ClearError();
  const std::string trimmed = Trim(fileName);
  if (trimmed.empty()) {
    SetError(220, "index filename not specified [MakeIndex()]");
    return;
  }
  const std::string suffix = " [MakeIndex(<...>," + trimmed + ")]";
  // The file this build made: a build that fails removes it, so that no
  // half-written index is left for a later open to trust.
  std::string made;
  try {
    WorkArea* table = CurrentTable();
    if (!table) IndexRaise(215, "database not open attempting to index to" + trimmed + "." + suffix);
    const std::string name = IndexFileName(trimmed, table);
    const std::string upper = platform::AsciiUpper(name);
    if (!options.Maker && Trim(options.Expression).empty())
      IndexRaise(254, "Neither Expression nor KeyMaker defined" + suffix);
    IND x;
    x.Name = upper;
    x.OpenName = name;
    x.Area = Engine().Areas.Current;
    x.ExprIndex = !options.Maker;
    x.Maker = options.Maker;
    x.Soundex = options.Soundex && !x.ExprIndex;
    x.Descending = options.Descending && !x.ExprIndex;
    if (x.ExprIndex) {
      if (options.Expression.size() > 100) IndexRaise(300, "Expression length exceeds 100 bytes" + suffix);
      x.Expr = AssignExpr(options.Expression);
      if (!x.Expr) throw IndexFailure{};
    }
    for (auto& a : IndexEngine().Areas)
      for (auto& slot : a.Opened)
        if (slot && (slot->Name == upper || SameFile(slot->OpenName, name))) IndexRaise(214, name + suffix);
    // A pipe, socket or device of that name is neither emptied nor removed.
    if (platform::IsSpecialFile(name))
      IndexRaise(platform::kAccessDenied, "File not open" + name + suffix);
    if (!table->Exclusive) platform::DeleteFile(name);
    if (const int rc = x.File.Create(name, platform::kModeReadWrite); rc != 0)
      IndexRaise(rc, "File not open" + name + suffix);
    made = name;
    // The anchor: type, compare routine, key length.
    x.Anchor.SetRoot(1);
    x.Anchor.SetNextFree(2);
    x.Anchor.SetUnique(options.Unique || IndexEngine().Settings.UniqueDefault);
    char type = 'C';
    if (x.ExprIndex) {
      type = x.Expr->ResultType();
      if (type != 'C' && type != 'N' && type != 'F' && type != 'D')
        IndexRaise(254, "Wrong parser return type" + suffix);
    }
    x.Anchor.SetTypeLetter(type);
    x.CharKey = type == 'C';
    RefreshRecCount(*table);
    const std::int64_t records = table->RecCount;
    TablePosition restore(*table);
    int keyLen = 8;
    if (x.CharKey) {
      if (x.Soundex) {
        keyLen = 4;
      } else {
        const std::string key = ComputeKey(x, table->Oem);
        if (Engine().Errors.ErrorCode != 0) throw IndexFailure{};
        keyLen = static_cast<int>(key.size());
        // An empty table has no record to measure (TRIM of a blank field is
        // empty): the most the expression can hold serves.
        if (records == 0 && x.Expr) keyLen = std::max(keyLen, x.Expr->TextWidth());
      }
    }
    if (keyLen < 1 || keyLen > 100) IndexRaise(266, "Incorrect key length: Must be 1 to 100." + suffix);
    const int entrySize = (keyLen + 3) / 4 * 4 + 8;
    x.Anchor.SetKeyLen(keyLen);
    x.Anchor.SetEntrySize(entrySize);
    x.Anchor.SetKeysPerNode(504 / entrySize);
    x.Anchor.SetTypeCode(x.CharKey ? 0 : 1);
    x.Blocks = 2;
    // The disk check, in floating arithmetic: the runs where the sort file
    // goes, the nodes where the index goes.
    const double itemSize = keyLen + 4.0;
    double nodes = 512;
    for (double n = static_cast<double>(records); n > 0; n = std::floor(n / (504 / entrySize)))
      nodes += std::floor(n / (504 / entrySize)) * 512 + 512;
    std::uint64_t freeHere = 0;
    if (platform::FreeDiskSpace(name, freeHere) == 0 && freeHere / 1024 < nodes / 1024)
      IndexRaise(227, "Available disk space: " + Str(static_cast<long long>(freeHere / 1024)) +
                          " KBytes;" + "needed: " + Str(static_cast<long long>(nodes / 1024)) +
                          " KBytes [MakeIndex]");
    if (static_cast<std::size_t>(records) > IndexEngine().RunItems) {
      const char* tmp = std::getenv("TMPDIR");
      std::uint64_t freeTmp = 0;
      const double runs = itemSize * static_cast<double>(records);
      if (platform::FreeDiskSpace(tmp && *tmp ? tmp : "/tmp", freeTmp) == 0 && freeTmp / 1024 < runs / 1024)
        IndexRaise(227, "Available disk space: " + Str(static_cast<long long>(freeTmp / 1024)) +
                            " KBytes;" + "needed: " + Str(static_cast<long long>(runs / 1024)) +
                            " KBytes [MakeIndex]");
    }
    IndexBuilder builder(*table, x, static_cast<std::size_t>(keyLen) + 4);
    builder.Build(records);
    x.Anchor.SetRoot(builder.NodesWritten());
    x.Anchor.SetNextFree(builder.NodesWritten() + 1);
    x.Expression = x.ExprIndex ? NormalizeExpression(options.Expression) : NormalizeExpression(kKeyMakerMarker);
    table->RecCount = records;
    WriteAnchorNode(x, *table);
    if (const int rc = x.File.Close(); rc != 0) IndexRaise(rc, "Error writing index file: " + x.Name + suffix);
  } catch (const IndexFailure&) {
    if (!made.empty()) platform::DeleteFile(made);
    DispatchPending();
  }
}

}  // namespace vz
