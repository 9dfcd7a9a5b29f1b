// Writing records (Replace, Append, DeleteRec, RecallRec, PACK, Poke) and
// the locks that guard them.
#include <algorithm>
#include <cstring>
#include <functional>

#include "engine/dates.h"
#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/dbf_internal.h"
#include "engine/errors.h"
#include "engine/text_search.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/scope_guard.h"

namespace vz {

namespace {

bool Shared(const WorkArea& a) {
  return !a.Exclusive;
}

bool HoldsRecordLock(const WorkArea& a, std::int64_t r) {
  return a.FileLocked ||
         std::find(a.RecordLocks.begin(), a.RecordLocks.end(), r) != a.RecordLocks.end();
}

// Writes the raw record (kept readable) as record n. Returns 0 or a code.
int WriteRawRecord(WorkArea& a, std::int64_t n) {
  std::vector<std::uint8_t> out(a.RawRec);
  if (out.size() > 1) {
    if (a.Oem) platform::AnsiToOem(out.data() + 1, out.size() - 1);
    if (a.Encode) a.Encode(out.data() + 1, out.size() - 1);
  }
  const std::uint64_t offset = RecordOffset(a, n);
  const int rc = a.File.WriteAt(offset, out.data(), out.size());
  if (rc == 0) UpdateCaches(a, offset, out.data(), out.size());
  return rc;
}

// The bytes of the file from `offset` on, as far as they go (at most
// `count`), to put back if a change is taken back.
std::vector<std::uint8_t> BytesAt(WorkArea& a, std::uint64_t offset, std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  std::size_t got = 0;
  if (a.File.ReadAt(offset, bytes.data(), count, got) != 0) got = 0;
  bytes.resize(got);
  return bytes;
}

// Puts bytes read before a change back at `offset` and cuts the file to
// `size` when it grew past it; the caches forget what they held. A write
// that fails here leaves the error of the change as the one reported.
void PutBack(WorkArea& a, std::uint64_t offset, const std::vector<std::uint8_t>& bytes,
             std::uint64_t size) {
  std::uint64_t now = 0;
  if (a.File.Size(now) == 0 && now > size) a.File.Truncate(std::max<std::uint64_t>(size, offset));
  if (!bytes.empty()) a.File.WriteAt(offset, bytes.data(), bytes.size());
  if (a.File.Size(now) == 0 && now > size) a.File.Truncate(size);
  ForgetCachedRecords(a);
  a.Cache.Drop();
}

// Keeps the open indexes in step after a record was written (appended or
// rewritten). False when they could not be: the indexes were left as they
// were (the index layer takes its change back), and the caller takes its
// record back before the error is dispatched.
bool UpdateIndexes(bool appended, const std::function<void()>& takeBack) {
  if (!Engine().Index.UpdateKeys) return true;
  {
    ScopeGuard takeBackOnRaise(takeBack);
    Engine().Index.UpdateKeys(appended);
    takeBackOnRaise.Dismiss();
  }
  if (Engine().Errors.ErrorCode == 0) return true;
  takeBack();
  DispatchPending();
  return false;
}

}  // namespace

void Replace() {
  ClearError();
  WorkArea* a = NeedTable("REPLACE");
  if (!a) return;
  if (a->Swap.empty()) {
    SetError(204, "Swap-buffer NIL.");
    return;
  }
  if (a->RecCount == 0) {
    SetError(212, "Database " + Quoted(a->FileName) + " is empty." + " [REPLACE]");
    return;
  }
  if (a->Eof || a->RecNo < 1 || a->RecNo > a->RecCount) {
    SetError(212, "Database " + Quoted(a->FileName) + " is at EOF." + " [REPLACE]");
    return;
  }
  // The keys of the record as it stands in the file, before it changes.
  if (Engine().Index.StoreKeys) Engine().Index.StoreKeys();
  Pack(*a);
  // A REPLACE is all or nothing: when the record or a key cannot be
  // written, the record goes back to what it was.
  const std::uint64_t offset = RecordOffset(*a, a->RecNo);
  std::uint64_t size = 0;
  a->File.Size(size);
  const std::vector<std::uint8_t> before = BytesAt(*a, offset, a->RecordLen);
  const auto takeBack = [&] { PutBack(*a, offset, before, size); };
  if (const int rc = WriteRawRecord(*a, a->RecNo); rc != 0) {
    takeBack();
    SetError(rc, "Record #" + Str(a->RecNo) + " in " + a->FileName + " [REPLACE]");
    return;
  }
  if (a->State < 2) a->State = 2;
  UpdateIndexes(false, takeBack);
}

void Append() {
  ClearError();
  WorkArea* a = NeedTable("APPEND");
  if (!a) return;
  if (Shared(*a) && !a->FileLocked) {
    SetError(1201, "File must be locked to append: " + a->FileName + " [APPEND]");
    return;
  }
  RefreshRecCount(*a);
  const std::int64_t n = a->RecCount + 1;
  Pack(*a);
  // An APPEND is all or nothing: when the record, its end mark, the header
  // or a key cannot be written (a full disk), the file goes back to what it
  // was, so that no partial record and no record without its keys stays.
  const std::uint64_t offset = RecordOffset(*a, n);
  std::uint64_t size = 0;
  a->File.Size(size);
  const std::vector<std::uint8_t> before = BytesAt(*a, offset, a->RecordLen + 1);
  const std::int64_t recNo = a->RecNo;
  const bool bof = a->Bof, eof = a->Eof;
  const std::uint8_t state = a->State;
  bool counted = false;
  const auto takeBack = [&] {
    PutBack(*a, offset, before, size);
    a->RecCount = n - 1;
    a->RecNo = recNo;
    a->Bof = bof;
    a->Eof = eof;
    a->State = state;
    if (counted) WriteHeaderCounts(*a);
  };
  int rc = WriteRawRecord(*a, n);
  if (rc == 0) {
    const std::uint8_t mark = 0x1A;
    rc = a->File.WriteAt(RecordOffset(*a, n + 1), &mark, 1);
  }
  if (rc == 0) {
    a->RecCount = n;
    // Other programs that trust the header see the new count at once.
    if (Shared(*a)) {
      counted = true;
      rc = WriteHeaderCounts(*a);
    }
  }
  if (rc != 0) {
    takeBack();
    SetError(rc, "Record #" + Str(n) + " in " + a->FileName + " [APPEND]");
    return;
  }
  a->RecNo = n;
  a->Bof = a->Eof = false;
  a->State = 3;
  UpdateIndexes(true, takeBack);
}

void AppendBlank() {
  WorkArea* a = NeedTable("APPEND");
  if (!a) return;
  ClearRecord();
  Append();
}

namespace {

void MarkRecord(bool deleted, const char* op) {
  ClearError();
  WorkArea* a = NeedTable(op);
  if (!a) return;
  if (a->Eof || a->RecNo < 1 || a->RecNo > a->RecCount) {
    SetError(212, "Database " + Quoted(a->FileName) + " is at EOF." + " [" + op + "]");
    return;
  }
  if (Shared(*a) && !HoldsRecordLock(*a, a->RecNo)) {
    SetError(1200, std::string("Record not locked. [") + op + "]");
    return;
  }
  // The keys before the mark changes: a key expression may use DELETED().
  if (Engine().Index.StoreKeys) Engine().Index.StoreKeys();
  const std::uint8_t flag = deleted ? '*' : ' ';
  const std::uint64_t offset = RecordOffset(*a, a->RecNo);
  const std::uint8_t was = a->RawRec[0];
  if (const int rc = a->File.WriteAt(offset, &flag, 1); rc != 0) {
    SetError(rc, "Record #" + Str(a->RecNo) + " in " + a->FileName + " [" + op + "]");
    return;
  }
  UpdateCaches(*a, offset, &flag, 1);
  a->RawRec[0] = flag;
  NativeRecord(*a)[0] = deleted;
  if (a->State < 2) a->State = 2;
  // When the keys cannot follow, the mark goes back to what it was.
  UpdateIndexes(false, [&] {
    if (a->File.WriteAt(offset, &was, 1) == 0) UpdateCaches(*a, offset, &was, 1);
    a->RawRec[0] = was;
    NativeRecord(*a)[0] = was == '*';
  });
}

}  // namespace

void DeleteRec() {
  MarkRecord(true, "DeleteRec");
}
void RecallRec() {
  MarkRecord(false, "RecallRec");
}

void PACK() {
  ClearError();
  WorkArea* a = NeedTable("PACK");
  if (!a) return;
  if (!a->Exclusive) {
    SetError(225, a->FileName + " [PACK]");
    return;
  }
  std::vector<std::uint8_t> record(a->RecordLen);
  std::int64_t kept = 0;
  // What the slots from the first removed record on held: a pack that
  // cannot finish (a write refused) puts them back, and the table is as it
  // was before.
  std::int64_t firstGap = 0;
  std::vector<std::uint8_t> originals;
  const auto putBack = [&] {
    for (std::int64_t slot = firstGap; firstGap > 0 && slot <= kept; ++slot) {
      const std::uint8_t* bytes =
          originals.data() + static_cast<std::size_t>(slot - firstGap) * a->RecordLen;
      a->File.WriteAt(RecordOffset(*a, slot), bytes, a->RecordLen);
    }
    ForgetCachedRecords(*a);
    a->Cache.Drop();
  };
  for (std::int64_t r = 1; r <= a->RecCount; ++r) {
    if (const int rc = ReadRecordBytes(*a, r, record.data()); rc != 0) {
      putBack();
      SetError(rc, "Record #" + Str(r) + " in " + a->FileName + " [PACK]");
      return;
    }
    if (firstGap == 0 && record[0] == '*') firstGap = r;
    if (firstGap > 0) originals.insert(originals.end(), record.begin(), record.end());
    if (record[0] == '*') continue;
    if (++kept == r) continue;
    const std::uint64_t offset = RecordOffset(*a, kept);
    if (const int rc = a->File.WriteAt(offset, record.data(), record.size()); rc != 0) {
      putBack();
      SetError(rc, "Record #" + Str(kept) + " in " + a->FileName + " [PACK]");
      return;
    }
    UpdateCaches(*a, offset, record.data(), record.size());
  }
  // The count first: while it cannot be written the records go back.
  const std::int64_t count = a->RecCount;
  a->RecCount = kept;
  if (const int rc = WriteHeaderCounts(*a); rc != 0) {
    putBack();
    a->RecCount = count;
    WriteHeaderCounts(*a);
    SetError(rc, a->FileName + " [PACK]");
    return;
  }
  // The end mark needs no new space (it lies where a record or the old
  // mark was); a table cut without it still holds its whole records.
  const std::uint64_t end = RecordOffset(*a, kept + 1);
  const std::uint8_t eof = 0x1A;
  const bool marked = a->File.WriteAt(end, &eof, 1) == 0;
  const int rc = a->File.Truncate(marked ? end + 1 : end);
  a->Map.Unmap();  // its pages past the new end are gone
  ForgetCachedRecords(*a);
  a->Cache.Drop();
  a->State = 2;
  if (rc != 0) {
    SetError(rc, a->FileName + " [PACK]");
    return;
  }
  // The builds take a character key's length from the current record, as
  // an index built on the packed table would: the first one.
  if (kept > 0) {
    if (!ReadUnpack(*a, 1)) return;
  } else {
    a->RecNo = 0;
    a->Bof = a->Eof = true;
    BlankNative(*a);
  }
  if (Engine().Index.Rebuild) {
    Engine().Index.Rebuild();
    if (Engine().Errors.ErrorCode != 0) return;
  }
  GoTop();
}

bool ALock() {
  ClearError();
  WorkArea* a = NeedTable("ALOCK");
  if (!a) return false;
  if (!Shared(*a) || a->FileLocked) {
    a->FileLocked = true;
    return true;
  }
  if (a->File.Lock(kLockBase, kLockBase) != 0) return false;
  a->FileLocked = true;
  a->RecordLocks.clear();
  return true;
}

bool RLock(std::int64_t r) {
  ClearError();
  WorkArea* a = NeedTable("RLOCK");
  if (!a) return false;
  if (!Shared(*a) || HoldsRecordLock(*a, r)) return true;
  if (a->RecordLocks.size() >= kMaxRecordLocks) {
    SetError(220, "Zavod record lock limit exceeded [RLOCK]");
    return false;
  }
  if (a->File.Lock(kLockBase + static_cast<std::uint64_t>(r), 1) != 0) return false;
  a->RecordLocks.push_back(r);
  return true;
}

bool RLock() {
  WorkArea* a = CurrentTable();
  return RLock(a ? a->RecNo : 0);
}

bool IsLocked(std::int64_t r) {
  ClearError();
  WorkArea* a = NeedTable("IsLocked");
  if (!a) return false;
  return !Shared(*a) || HoldsRecordLock(*a, r);
}

void UnlockRec(std::int64_t r) {
  ClearError();
  WorkArea* a = NeedTable("UnlockRec");
  if (!a) return;
  auto it = std::find(a->RecordLocks.begin(), a->RecordLocks.end(), r);
  if (it == a->RecordLocks.end()) {
    if (Shared(*a)) SetError(1200, "Record not locked. [UnlockRec(" + Str(r) + ")]");
    return;
  }
  a->File.Unlock(kLockBase + static_cast<std::uint64_t>(r), 1);
  a->RecordLocks.erase(it);
}

void Unlock() {
  ClearError();
  WorkArea* a = NeedTable("Unlock");
  if (!a) return;
  if (Shared(*a)) {
    if (a->FileLocked) a->File.Unlock(kLockBase, kLockBase);
    for (std::int64_t r : a->RecordLocks)
      a->File.Unlock(kLockBase + static_cast<std::uint64_t>(r), 1);
  }
  a->FileLocked = false;
  a->RecordLocks.clear();
}

void Poke(int i, std::int64_t r, const std::string& bytes) {
  ClearError();
  WorkArea* a = NeedTable("Poke");
  if (!a) return;
  if (r < 1 || r > a->RecCount || i < 0 || i > a->FieldCount) {
    SetError(212, "Invalid record number = " + Str(r) + " (" + a->FileName + ")  [Poke]");
    return;
  }
  const std::size_t len = i == 0 ? 1 : a->Fields[i - 1].Len;
  std::string field = bytes.substr(0, len);
  field.resize(len, ' ');
  const std::uint64_t offset = RecordOffset(*a, r) + (i == 0 ? 0 : a->Fields[i - 1].Offset);
  const auto* p = reinterpret_cast<const std::uint8_t*>(field.data());
  if (const int rc = a->File.WriteAt(offset, p, len); rc != 0) {
    SetError(rc, "Record #" + Str(r) + " in " + a->FileName + " [Poke]");
    return;
  }
  UpdateCaches(*a, offset, p, len);
  if (a->State < 2) a->State = 2;
}

}  // namespace vz
