#include "index/indexes.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/ndx_cursor.h"
#include "index/ndx_keys.h"
#include "index/ndx_semaphore.h"
#include "index/ndx_update.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace vz {

namespace {

// Marks the index whose open is positioning the table: its key check is the
// open's own, so the moves of that positioning leave its key alone.
struct OpeningScope {
  explicit OpeningScope(const NdxFile* x) { IndexEngine().Opening = x; }
  ~OpeningScope() { IndexEngine().Opening = nullptr; }
  OpeningScope(const OpeningScope&) = delete;
  OpeningScope& operator=(const OpeningScope&) = delete;
};

void OpenIndex(const std::string& name, KeyMaker maker, bool noCache, int order, bool descending,
               bool soundex) {
  WorkArea* t = CurrentTable();
  const std::string file = IndexFileName(name, t);
  const std::string upper = platform::AsciiUpper(file);
  const std::string resolved = platform::ResolveFileName(file);
  const std::string tail = " [OpenIndex/Set_Index_To]";
  if (!platform::FileExists(resolved))
    RaiseIndexError(platform::MissingFileCode(resolved),
                    "Attempt to open " + upper + " [SetIndexTo(...," + Str(order) + ")]");
  // The same file (under any spelling) may serve the same table in other
  // areas, never another table nor two orders of one area.
  for (int area = 1; area <= kMaxAreas + 1; ++area) {
    for (int o = 1; o <= kMaxOrders; ++o) {
      const NdxFile* other = IndexEngine()
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
        RaiseIndexError(220, "Index file already open: " + upper + " for " +
                                 (otherTable ? otherTable->FileName : std::string()) + "\n\r" +
                                 "Attempting to set index of same name for " + t->FileName + "." +
                                 tail);
      }
    }
  }
  AreaIndexes& a = CurrentAreaIndexes();
  const bool shared = SharedUse(*t);
  if (shared && !a.Sem.LoggedIn) HandleSemaphore(*t, a, SemaphoreAction::Login);
  int mode = shared ? platform::kModeShared : platform::kModeReadWrite;
  if (Engine().Settings.ForcedFileMode != -1) mode = Engine().Settings.ForcedFileMode;
  if (Engine().Settings.NetworkMode) noCache = true;

  auto x = std::make_unique<NdxFile>();
  x->Name = upper;
  x->OpenName = resolved;
  x->Area = Engine().Areas.Current;
  x->Order = order;
  x->NoCache = noCache;
  if (const int rc = x->File.Open(resolved, mode); rc != 0)
    RaiseIndexError(rc, "Unable to open index: " + upper + tail);
  std::uint64_t size = 0;
  x->File.Size(size);
  std::uint8_t head[125] = {};
  std::size_t got = 0;
  if (size <= 1023 || x->File.ReadAt(0, head, sizeof head, got) != 0 || got < sizeof head)
    RaiseIndexError(222, "Unable to open index: " + upper + tail);
  std::memcpy(x->Anchor.Raw, head, 24);
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
  const bool sane =
      keyLen >= 1 && keyLen <= 100 && (anchorChar || keyLen == 8) && an.EntrySize() >= keyLen + 8 &&
      an.KeysPerNode() >= 1 &&
      4 + std::int64_t{an.KeysPerNode()} * an.EntrySize() + 4 <= std::int64_t{kNodeSize} &&
      an.Root() >= 1 && static_cast<std::uint64_t>(an.Root()) < blocks && an.NextFree() >= 2 &&
      static_cast<std::uint64_t>(an.NextFree()) <= blocks;
  if (!sane) RaiseIndexError(222, "Unable to open index: " + upper + tail);
  x->Expression = expr;
  const std::string normal = NormalizeExpression(expr);
  const bool marker = normal == NormalizeExpression(kKeyMakerMarker);
  if (!maker) {
    if (marker)
      RaiseIndexError(223, "Key maker function required, \"" + upper +
                               "\" was created using KeyMaker function." + tail);
    CompiledExpr* e = nullptr;
    if (!Trim(expr).empty()) {
      ScopedErrorDispatch quiet(false);
      e = CompileExpr(expr);
      ClearError();
    }
    if (!e)
      RaiseIndexError(222, "Invalid dBASE key expression or corrupted index file " + upper + tail);
    x->Expr = e;
    const char type = e->ResultType();
    if (type != 'C' && type != 'D' && type != 'F' && type != 'N') RaiseIndexError(222, tail);
    x->CharKey = type == 'C';
    x->Anchor.SetTypeLetter(type);
    if (x->CharKey != anchorChar)
      RaiseIndexError(222, "Invalid dBASE key expression or corrupted index file " + upper + tail);
  } else {
    if (!marker)
      RaiseIndexError(
          223,
          "Attempted use of Key Maker function with index file created with a dBASE key "
          "expression [OpenIndex/Set_Index_ToCB(" +
              upper + ")]");
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
      WriteAnchor(*x, *t);
    }
  }
  if (order == 1) {
    if (a.Cache.Enabled() && a.Opened[1])
      RaiseIndexError(254, "Internal error: Cache already allocated" + tail);
    SetUpNodeCache(
        a, (noCache || IndexEngine().Settings.NoCache) ? 0 : IndexEngine().Settings.CacheBytes);
  }
  NdxFile* raw = x.get();
  a.Opened[static_cast<std::size_t>(order)] = std::move(x);
  RebuildOrderSlots(a);
  // An open that fails leaves the area as it was.
  const UndoOnException undo([&] {
    a.Opened[static_cast<std::size_t>(order)].reset();
    if (order == 1) a.Cache.Slots.clear();
    RebuildOrderSlots(a);
    if (!a.Any() && a.Sem.LoggedIn) {
      try {
        HandleSemaphore(*t, a, SemaphoreAction::Logout);
      } catch (const IndexError&) {
      }
    }
  });
  if (t->RecCount > 0) {
    if (order == 1) {
      // Stand on the first visible record in this index's order.
      {
        const ScopedSetting<bool> keyOrder(a.Natural, false);
        const ScopedSetting<int> controlling(a.LastOrder, 1);
        RebuildOrderSlots(a);
        ScopedErrorDispatch quiet(false);
        const OpeningScope opening(raw);
        GoTop();
      }
      RebuildOrderSlots(a);
      if (Engine().Errors.ErrorCode != 0) throw IndexError{};
    }
    if (raw->CharKey) {
      if (t->RecNo >= 1 && t->RecNo <= t->RecCount) {
        std::string key = ComputeKey(*raw, t->Oem);
        if (!FitComputedKey(*raw, key))
          RaiseIndexError(266, LengthMessage(*raw, key, "SetIndexTo/OpenIndex"));
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
}

template <typename F>
std::int64_t GuardedMove(F f, std::int64_t onFailure) {
  try {
    return f();
  } catch (const IndexError&) {
    if (NdxFile* x = ControllingIndex()) x->Eof = true;
    return onFailure;
  }
}

}  // namespace

// --- Names ---------------------------------------------------------------------------

std::string TakeIndexOptions(const std::string& text, IndexOptions& options) {
  std::string up = platform::AnsiUpper(text) + " ";
  std::string original = text + " ";
  const std::size_t tail = platform::NameStart(up);
  auto take = [&](const char* word) {
    const std::size_t n = std::strlen(word);
    bool found = false;
    for (std::size_t pos = up.find(word, tail); pos != std::string::npos;
         pos = up.find(word, pos)) {
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

// --- Opening and closing ------------------------------------------------------------

IndexInfoRecord IndexInfo(const std::string& name) {
  ClearError();
  IndexInfoRecord r;
  const std::string file = IndexFileName(name, CurrentTable());
  const std::string message =
      "Error reading index file: \n\r[IndexInfo(<>," + platform::AsciiUpper(Trim(name)) + ")]";
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
    const std::string where =
        " [SetIndexTo(<>," + platform::AsciiUpper(name) + "," + Str(order) + ")]";
    if (order < 1 || order > kMaxOrders)
      RaiseIndexError(220, "Index Order parameter out of range" + where);
    if (!CurrentTable())
      RaiseIndexError(215, "Attempt to open " + platform::AsciiUpper(name) +
                               " index file with no DBF file open." + where);
    if (CurrentAreaIndexes().Opened[static_cast<std::size_t>(order)]) CloseIndex(order);
    OpenIndex(name, std::move(maker), options.NoCache, order, options.Descending, options.Soundex);
    StoreCurrentKeysRaising();
    if (Engine().Errors.ErrorCode != 0) return;
    Set_Order_To(1);
  } catch (const IndexError&) {
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
  AreaIndexes& a = CurrentAreaIndexes();
  std::unique_ptr<NdxFile>& slot = a.Opened[static_cast<std::size_t>(order)];
  if (!slot) return;
  WorkArea* t = CurrentTable();
  try {
    if (slot->AnchorChanged && slot->File.Writable() && t) {
      WriteLock lock(*t);
      WriteAnchor(*slot, *t);
    }
  } catch (const IndexError&) {
  }
  if (order == 1) a.Cache.Slots.clear();
  const bool wasControlling = a.LastOrder == order;
  slot.reset();
  if (wasControlling) {
    a.LastOrder = 0;
    a.Natural = true;
  }
  RebuildOrderSlots(a);
  if (!a.Any()) {
    if (a.Sem.LoggedIn && t) {
      try {
        HandleSemaphore(*t, a, SemaphoreAction::Logout);
      } catch (const IndexError&) {
      }
    }
    a = AreaIndexes{};
  }
}

void CloseIndexes() {
  for (int i = 1; i <= kMaxOrders; ++i) CloseIndex(i);
}

void Set_Order_To(int n) {
  ClearError();
  WorkArea* t = CurrentTable();
  try {
    const std::string where = " [Set_Order_To(" + Str(n) + ")]";
    if (!t) RaiseIndexError(215, "No database open in current work area" + where);
    AreaIndexes& a = CurrentAreaIndexes();
    if (n < 0 || n > kMaxOrders)
      RaiseIndexError(
          220, "Invalid Index Order Specified: SET_ORDER_TO. (DBF=" + t->FileName + ")" + where);
    if (n == 0) {
      a.Natural = true;
      a.LastOrder = 0;
      return;
    }
    if (!a.Any())
      RaiseIndexError(221, "No primary index active. (DBF=" + t->FileName + ")" + where);
    if (!a.Opened[static_cast<std::size_t>(n)])
      RaiseIndexError(221, "Index not open.. (DBF=" + t->FileName + ")" + where);
    const bool wasPastEnd = a.Work[1] && !a.Natural && a.Work[1]->Eof;
    if (n != a.LastOrder || a.Natural) {
      a.LastOrder = n;
      a.Natural = false;
      RebuildOrderSlots(a);
      for (NodeCache::Slot& s : a.Cache.Slots) s.Used = false;
      if (t->RecCount == 0 || wasPastEnd) a.Work[1]->Eof = true;
    }
    const bool found = IndexEngine().Settings.Found;
    SyncIndexRaising();
    StoreCurrentKeysRaising();
    IndexEngine().Settings.Found = found;
  } catch (const IndexError&) {
    // Left for the caller.
  }
}

int CurrentOrder() {
  ClearError();
  if (!CurrentTable()) {
    SetError(215, "No database open in current work area [CurrentOrder]");
    return 0;
  }
  const AreaIndexes& a = CurrentAreaIndexes();
  if (a.Natural || !a.Any()) return 0;
  return a.LastOrder;
}

// --- Hooks ---------------------------------------------------------------------------

namespace {

bool HookActive() {
  const WorkArea* t = CurrentTable();
  if (!t) return false;
  const AreaIndexes& a = CurrentAreaIndexes();
  return !a.Natural && a.Work[1] != nullptr;
}

// The error stays stored: every move that synchronises reports it at its
// end, after it has closed its read bracket of the shared-use protocol.
void HookSynchronise() {
  try {
    SyncIndexRaising();
  } catch (const IndexError&) {
  }
}

std::int64_t HookNext() {
  WorkArea* t = CurrentTable();
  const std::int64_t here = t ? t->RecNo : 0;
  const std::int64_t r = GuardedMove([] { return FindNextRaising(); }, here);
  if (t) RefreshForRecord(*t, r);
  return r;
}

std::int64_t HookPrior() {
  WorkArea* t = CurrentTable();
  const std::int64_t here = t ? t->RecNo : 0;
  const std::int64_t r = GuardedMove([] { return FindPriorRaising(); }, here);
  if (t) RefreshForRecord(*t, r);
  return r;
}

std::int64_t HookFirst() {
  const std::int64_t r = GuardedMove([] { return FindFirstRaising(); }, 0);
  if (WorkArea* t = CurrentTable()) RefreshForRecord(*t, r);
  return r;
}

std::int64_t HookLast() {
  const std::int64_t r = GuardedMove([] { return FindLastRaising(); }, 0);
  if (WorkArea* t = CurrentTable()) RefreshForRecord(*t, r);
  return r;
}

bool HookAtEof() {
  NdxFile* x = ControllingIndex();
  return x ? x->Eof : false;
}

bool HookAtBof() {
  NdxFile* x = ControllingIndex();
  return x ? x->Bof : false;
}

void HookStoreKeys() {
  try {
    StoreCurrentKeysRaising(true);
  } catch (const IndexError&) {
    DispatchPending();
  }
}

void HookSetBof(bool on) {
  if (NdxFile* x = ControllingIndex()) x->Bof = on;
}

void HookSetEof(bool on) {
  if (NdxFile* x = ControllingIndex()) x->Eof = on;
}

void HookSemaphore(bool begin) {
  try {
    if (begin)
      BeginRead();
    else
      EndRead();
  } catch (const IndexError&) {
    // The move goes on without the protocol; the error is reported at its end.
  }
}

// The table layer dispatches the error itself, after it has taken its
// record back.
void HookUpdateKeys(bool appended) {
  KeepIndexesInStep(appended);
}

void HookRebuild() {
  if (CurrentTable() && CurrentAreaIndexes().Any()) Reindex();
}

}  // namespace

void InstallIndexHooks() {
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
  InstallMemoUnit();
  InstallEvaluator();
  InstallIndexHooks();
}

}  // namespace vz
