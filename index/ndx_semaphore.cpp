#include "index/ndx_semaphore.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/index_state.h"
#include "index/ndx_cursor.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/fresh_value.h"

namespace vz {

namespace {

constexpr std::uint64_t kCounterLock = 16;
constexpr std::uint64_t kIndexLock = 17;
constexpr std::uint64_t kPresenceLock = 18;

[[noreturn]] void SemError(int code, const std::string& text, const std::string& name,
                           const char* action) {
  RaiseIndexError(code, text + name + " Action=" + action + " [Database Semaphore]");
}

// Takes an exclusive lock, trying up to 1000 times with a short pause.
void LockWithRetries(SemaphoreState& s, std::uint64_t offset, const char* action, bool shared) {
  int rc = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    rc = shared ? s.File.LockShared(offset, 1) : s.File.Lock(offset, 1);
    if (rc == 0) return;
    platform::PauseBeforeRetry(std::chrono::milliseconds(10));
  }
  RaiseIndexError(
      1202, "10 second timeout: Cannot lock index semaphore file: " + s.Name + " " + action +
                "\r\nPossible cause: Network lock limit exceeded\r\n Lock result code: " + Str(rc));
}

void Unlock(SemaphoreState& s, std::uint64_t offset, const char* action) {
  if (const int rc = s.File.Unlock(offset, 1); rc != 0)
    RaiseIndexError(1202, "Cannot unlock index semaphore file: " + s.Name + " " + action +
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
  if (const int rc = s.File.ReadAt(4, b, 4, got); rc != 0)
    SemError(rc, "Cannot read: ", s.Name, action);
  return got == 4 ? U32(b) : 0;
}

void WriteCounter(SemaphoreState& s, std::uint64_t offset, std::uint32_t v, const char* action) {
  if (!s.File.Writable()) return;
  std::uint8_t b[4];
  PutU32(b, v);
  if (const int rc = s.File.WriteAt(offset, b, 4); rc != 0)
    SemError(rc, "Cannot write to: ", s.Name, action);
}

// The start of a read; true when another program changed the indexes
// since this one last looked.
bool IncRead(SemaphoreState& s) {
  ++s.Reads;
  if (s.Reads > 1) return false;
  const char* action = ActionName(SemaphoreAction::IncRead);
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

bool HandleSemaphore(WorkArea& table, AreaIndexes& a, SemaphoreAction step) {
  SemaphoreState& s = a.Sem;
  const char* action = ActionName(step);
  if (step == SemaphoreAction::Login) {
    if (s.LoggedIn) return false;
    std::string name = SemaphoreFileName(table);
    int rc = 0;
    if (IndexEngine().Settings.ReadOnlyUse) {
      // Nobody uses the indexes while there is no semaphore file: nothing
      // to take part in, nothing is made, and the state stays empty.
      rc = s.File.Open(name, platform::kModeRead | platform::kShareDenyNone);
      if (rc == platform::kFileNotFound || rc == platform::kPathNotFound) return false;
    } else {
      rc = s.File.Open(name, platform::kModeShared);
      if (rc == platform::kFileNotFound) rc = s.File.Create(name, platform::kModeShared);
      // A table in a folder we may only read: take part as a reader.
      if (rc == platform::kAccessDenied)
        rc = s.File.Open(name, platform::kModeRead | platform::kShareDenyNone);
    }
    s.Name = std::move(name);
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
    ResetToFresh(s);
    return false;
  }
  if (step == SemaphoreAction::IncRead) return IncRead(s);
  if (step == SemaphoreAction::DecRead) {
    if (s.Reads <= 0)
      RaiseIndexError(1202, "Unbalanced IncRead/DecRead for semaphore file: " + s.Name);
    --s.Reads;
    return false;
  }
  if (step == SemaphoreAction::Lock) {
    ++s.Locks;
    if (s.Locks > 1) return false;
    std::uint32_t counter = 0;
    bool locked = false;
    {
      // Nothing was changed when this fails: the lock is not kept (other
      // programs would wait for it), and the next change takes it anew.
      const UndoOnException undo([&] {
        --s.Locks;
        if (locked) s.File.Unlock(kIndexLock, 1);
      });
      LockWithRetries(s, kIndexLock, action, false);
      locked = true;
      counter = ReadCounter(s, action);
      WriteCounter(s, 4, (counter | 1), action);
    }
    return counter != s.SeenCounter && !(counter & 1) && counter != (s.SeenCounter | 1);
  }
  if (step == SemaphoreAction::Unlock) {
    if (s.Locks <= 0) RaiseIndexError(1202, "Unbalanced Lock/Unlock for semaphore file: " + s.Name);
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

// --- Reads and changes in shared use ------------------------------------------

void ReReadAnchors(WorkArea& t) {
  AreaIndexes& a = CurrentAreaIndexes();
  for (int i = 1; i <= kMaxOrders; ++i)
    if (a.Opened[static_cast<std::size_t>(i)]) ReadAnchor(*a.Opened[static_cast<std::size_t>(i)]);
  for (NodeCache::Slot& s : a.Cache.Slots) s.Used = false;
  (void)t;
}

void BeginRead() {
  WorkArea* t = CurrentTable();
  if (!t || !SharedUse(*t)) return;
  AreaIndexes& a = CurrentAreaIndexes();
  if (!a.Sem.LoggedIn) return;
  if (IncRead(a.Sem)) {
    ReReadAnchors(*t);
    SoftSyncIndexRaising();
  }
}

void EndRead() {
  WorkArea* t = CurrentTable();
  if (!t || !SharedUse(*t)) return;
  AreaIndexes& a = CurrentAreaIndexes();
  if (!a.Sem.LoggedIn) return;
  if (a.Sem.Reads > 0) {
    --a.Sem.Reads;  // the end of a read changes nothing in the file
    return;
  }
  HandleSemaphore(*t, a, SemaphoreAction::DecRead);  // reports the imbalance
}

WriteLock::WriteLock(WorkArea& table) : t(table) {
  AreaIndexes& a = CurrentAreaIndexes();
  if (SharedUse(t) && a.Sem.LoggedIn) {
    if (HandleSemaphore(t, a, SemaphoreAction::Lock)) ReReadAnchors(t);
    held = true;
  }
}

WriteLock::~WriteLock() {
  if (held) {
    try {
      HandleSemaphore(t, CurrentAreaIndexes(), SemaphoreAction::Unlock);
    } catch (const IndexError&) {
    }
  }
}

}  // namespace vz
