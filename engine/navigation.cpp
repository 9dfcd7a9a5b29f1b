// Moving the record pointer: GO, SKIP, GoTop, GoBottom over the visible
// records, in index order when an index controls; the BOF and EOF flags and
// the record count.
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

bool IndexActive() {
  return Engine().Index.Active && Engine().Index.Active();
}

void IndexSemaphore(bool begin) {
  if (Engine().Index.Semaphore) Engine().Index.Semaphore(begin);
}

bool ReadUnpack(WorkArea& a, std::int64_t n) {
  if (!GetDbfRecord(a, n)) return false;
  Unpack(a);
  return true;
}

bool ReadUnpackStored(WorkArea& a, std::int64_t n) {
  ScopedErrorDispatch quiet(false);
  return ReadUnpack(a, n);
}

bool WhileHolds(WorkArea& a) {
  if (a.WhileExpr)
    return Engine().Evaluator.IsTrue ? Engine().Evaluator.IsTrue(*a.WhileExpr) : true;
  if (a.WhileProc) return a.WhileProc();
  return true;
}

void CallAfterMove(WorkArea& a) {
  if (!a.AfterMove) return;
  VoidProc proc = std::move(a.AfterMove);
  a.AfterMove = nullptr;
  const int area = Engine().Areas.Current;
  const std::int64_t recNo = a.RecNo;
  {
    // However the procedure ends (a raised error too), the caller's area
    // is current again and the procedure installed again, unless the
    // procedure closed the area.
    ScopeGuard restore([&] {
      Engine().Areas.Current = area;
      if (CurrentTable() == &a) a.AfterMove = std::move(proc);
    });
    proc();
  }
  if (CurrentTable() != &a) return;
  // An error already pending (the move's own, or the procedure's) has been
  // reported by whoever set it; only a cycle is reported here.
  if (Engine().Errors.ErrorCode == 0 && a.RecNo != recNo) SetError(224, a.FileName);
}

void GO(std::int64_t n) {
  ClearError();
  WorkArea* a = NeedTable("GO()");
  if (!a) return;
  if (n > a->RecCount) RefreshRecCount(*a);
  const std::string badNumber =
      "Invalid record number = " + Str(n) + " Database " + Quoted(a->FileName) + " [GO]";
  if (a->RecCount == 0) {
    a->Bof = a->Eof = true;
    BlankNative(*a);
    StoreError(212, badNumber);
  } else {
    a->Bof = a->Eof = false;
    if (n < 1 || n > a->RecCount) {
      a->RecNo = a->RecCount + 1;
      a->Eof = true;
      StoreError(212, badNumber);
    } else {
      const bool indexed = IndexActive();
      if (indexed) IndexSemaphore(true);
      bool read;
      {
        // Stored only: dispatched once below, after the semaphore is closed.
        ScopedErrorDispatch quiet(false);
        read = GetDbfRecord(*a, n);
      }
      if (read) {
        Unpack(*a);
        if (indexed) {
          if (Engine().Index.Synchronise) Engine().Index.Synchronise();
          if (Engine().Index.StoreKeys) Engine().Index.StoreKeys();
        }
      }
      if (indexed) IndexSemaphore(false);
    }
  }
  DispatchPending();
  if (CurrentTable() == a) CallAfterMove(*a);
}

void RawGo(std::int64_t n) {
  RawGo(n, false);
}

void RawGo(std::int64_t n, bool callAfterMove) {
  WorkArea* a = CurrentTable();
  if (!a) {
    SetError(215, "No database in use [Dbf4RawGo]  WorkArea = " + Str(Engine().Areas.Current));
    return;
  }
  if (n > a->RecCount) {
    a->RecNo = a->RecCount + 1;
    a->Eof = true;
    BlankNative(*a);
  } else if (n <= 0) {
    SetError(212, "Invalid record number = " + Str(n) + " [Dbf4RawGo]");
    return;
  } else {
    bool ok;
    {
      ScopedErrorDispatch quiet(false);
      ok = GetDbfRecord(*a, n);
    }
    if (!ok) {
      SetError(Engine().Errors.ErrorCode, TakeErrorDetail() + " [Dbf4RawGo]");
      return;
    }
    Unpack(*a);
  }
  if (callAfterMove) CallAfterMove(*a);
}

void SKIP(std::int64_t n) {
  ClearError();
  WorkArea* a = NeedTable("SKIP()");
  if (!a) return;
  std::int64_t lastVisible = a->RecCount + 1;
  if (n == 0) {
    if (a->RecCount > 0 && !a->Eof && a->RecNo >= 1 && a->RecNo <= a->RecCount) {
      // A re-read asks the file, not the record cache.
      ForgetCachedRecords(*a);
      if (!ReadUnpack(*a, a->RecNo)) return;
    } else {
      BlankNative(*a);
    }
    CallAfterMove(*a);
    return;
  }
  if (a->Eof && n > 0) {
    SetError(212, "Database " + Quoted(a->FileName) + " is past EOF." + " [SKIP]");
    return;
  }
  if (a->RecCount == 0) {
    a->Bof = a->Eof = true;
    SetError(212, "Database " + Quoted(a->FileName) + " is empty." + " [SKIP]");
    return;
  }
  if (a->Bof && n < 0) return;
  // A move forward that a while condition ended stands on the record that
  // failed it, with EOF set; a move back goes on from that record, in index
  // order as in record order, not from past the last key.
  const bool endedByWhile = a->Eof && a->RecNo >= 1 && a->RecNo <= a->RecCount;
  a->Bof = a->Eof = false;
  const bool indexed = IndexActive();
  if (indexed && endedByWhile && n < 0 && Engine().Index.SetEof) Engine().Index.SetEof(false);
  if (indexed) IndexSemaphore(true);

  bool endReached = false;
  bool whileOk = true;
  if (Engine().CustomSkip) {
    const std::int64_t target = Engine().CustomSkip(n, endReached);
    if (!endReached && !ReadUnpackStored(*a, target)) {
      if (indexed) IndexSemaphore(false);
      DispatchPending();
      return;
    }
  } else {
    std::int64_t passed = 0;
    for (;;) {
      std::int64_t next;
      if (n > 0) {
        if (indexed) {
          next = Engine().Index.NextEntry ? Engine().Index.NextEntry() : a->RecNo;
          if (next == a->RecNo) endReached = true;
        } else {
          RefreshRecCountSoon(*a);
          next = a->RecNo + 1;
          // At the end of the known records, ask the file itself: another
          // program may just have appended.
          if (next > a->RecCount) RefreshRecCount(*a);
          if (next > a->RecCount) {
            endReached = true;
            next = a->RecCount;
          }
        }
      } else {
        if (IsVisible(*a)) lastVisible = a->RecNo;
        if (indexed) {
          next = Engine().Index.PriorEntry ? Engine().Index.PriorEntry() : a->RecNo;
          if (next == a->RecNo) endReached = true;
        } else {
          next = a->RecNo - 1;
          if (next < 1) {
            endReached = true;
            next = 1;
          }
        }
      }
      if (next < 1 || next > a->RecCount) {
        // Nothing left to read (the table shrank under the pointer).
        endReached = true;
        break;
      }
      if (!ReadUnpackStored(*a, next)) {
        if (indexed) IndexSemaphore(false);
        DispatchPending();
        return;
      }
      if (IsVisible(*a)) passed += n > 0 ? 1 : -1;
      whileOk = WhileHolds(*a);
      if (passed == n || endReached || !whileOk) break;
    }
  }

  if (endReached) {
    if (n > 0) {
      a->RecNo = a->RecCount + 1;
      SetEOF(true);
      BlankNative(*a);
      if (indexed && Engine().Index.Synchronise) Engine().Index.Synchronise();
    } else {
      // GoTop's own after-move call would come before BOF is set, and twice
      // for one move: the procedure is held back for the call below.
      VoidProc after = std::move(a->AfterMove);
      a->AfterMove = nullptr;
      {
        ScopeGuard putBack([&] { a->AfterMove = std::move(after); });
        GoTop();
      }
      SetBOF(true);
    }
  } else if (!whileOk) {
    if (n > 0) {
      SetEOF(true);
    } else {
      if (lastVisible == a->RecCount + 1) {
        a->RecNo = a->RecCount + 1;
        BlankNative(*a);
      } else if (!ReadUnpackStored(*a, lastVisible)) {
        if (indexed) IndexSemaphore(false);
        DispatchPending();
        return;
      }
      a->Bof = true;
      if (indexed) {
        if (Engine().Index.Synchronise) Engine().Index.Synchronise();
        if (Engine().Index.SetBof) Engine().Index.SetBof(true);
      }
    }
  }
  if (indexed) {
    IndexSemaphore(false);
    if (Engine().Index.StoreKeys) Engine().Index.StoreKeys();
  }
  DispatchPending();
  CallAfterMove(*a);
}

namespace {

// No visible record: the pointer stands past the end with both flags set.
void NoVisibleRecord(WorkArea& a, bool indexed) {
  BlankNative(a);
  a.RecNo = a.RecCount + 1;
  a.Bof = a.Eof = true;
  if (indexed) {
    if (Engine().Index.Synchronise) Engine().Index.Synchronise();
    if (Engine().Index.SetBof) Engine().Index.SetBof(true);
    if (Engine().Index.SetEof) Engine().Index.SetEof(true);
  }
}

// GoTop (top) and GoBottom: to the first visible record from that edge of
// the table, in index order when an index controls.
void GoToEdge(bool top) {
  ClearError();
  WorkArea* a = NeedTable(top ? "GoTop" : "GoBottom");
  if (!a) return;
  // The last record depends on the count; the first does not.
  if (!top) RefreshRecCount(*a);
  if (a->RecCount == 0) return;
  const IndexHooks& index = Engine().Index;
  const bool indexed = IndexActive();
  std::int64_t r = top ? 1 : a->RecCount;
  if (indexed) {
    IndexSemaphore(true);
    if (auto edgeEntry = top ? index.FirstEntry : index.LastEntry) r = edgeEntry();
  }
  bool ok = true;
  if (r < 1 || r > a->RecCount) {
    NoVisibleRecord(*a, indexed);
  } else if (!ReadUnpackStored(*a, r)) {
    ok = false;
  } else {
    while (!IsVisible(*a) && Engine().Errors.ErrorCode == 0) {
      std::int64_t next;
      bool atEnd;
      if (indexed) {
        const auto step = top ? index.NextEntry : index.PriorEntry;
        const auto atEdge = top ? index.AtEof : index.AtBof;
        next = step ? step() : a->RecNo;
        atEnd = (atEdge && atEdge()) || next == a->RecNo;
      } else {
        next = a->RecNo + (top ? 1 : -1);
        atEnd = top ? a->Eof : a->Bof;
      }
      // Moving back from the bottom, an entry past the count is damage, not
      // the end: its read fails and reports it.
      if (atEnd || next < 1 || (top && next > a->RecCount)) {
        NoVisibleRecord(*a, indexed);
        break;
      }
      if (!ReadUnpackStored(*a, next)) {
        ok = false;
        break;
      }
    }
  }
  if (indexed) {
    if (ok && index.StoreKeys) index.StoreKeys();
    IndexSemaphore(false);
  }
  // An index that failed during the move left its own error.
  DispatchPending();
  if (ok) CallAfterMove(*a);
}

}  // namespace

void GoTop() {
  GoToEdge(true);
}

void GoBottom() {
  GoToEdge(false);
}

void SetBOF(bool on) {
  WorkArea* a = CurrentTable();
  if (!a) return;
  a->Bof = on;
  if (IndexActive() && Engine().Index.SetBof) Engine().Index.SetBof(on);
}

void SetEOF(bool on) {
  WorkArea* a = CurrentTable();
  if (!a) return;
  a->Eof = on;
  if (IndexActive() && Engine().Index.SetEof) Engine().Index.SetEof(on);
}

bool dEOF() {
  ClearError();
  WorkArea* a = NeedTable("dEOF");
  if (!a) return false;
  RefreshRecCountSoon(*a);
  if (a->RecNo > a->RecCount) SetEOF(true);
  if (IndexActive() && Engine().Index.AtEof) return Engine().Index.AtEof();
  return a->Eof;
}

bool dBOF() {
  ClearError();
  WorkArea* a = NeedTable("dBOF");
  if (!a) return false;
  if (IndexActive() && Engine().Index.AtBof) return Engine().Index.AtBof();
  return a->Bof;
}

std::int64_t RecCount() {
  ClearError();
  WorkArea* a = NeedTable("RecCount");
  if (!a) return 0;
  RefreshRecCount(*a);
  return a->RecCount;
}

std::int64_t RecNo() {
  ClearError();
  WorkArea* a = NeedTable("RecNo");
  return a ? a->RecNo : 0;
}

std::uint32_t RecSize() {
  ClearError();
  WorkArea* a = NeedTable("RecSize");
  return a ? a->RecordLen : 0;
}

bool Deleted() {
  ClearError();
  WorkArea* a = NeedTable("Deleted");
  return a && a->NativeBuffer && NativeRecord(*a)[0] != 0;
}

}  // namespace vz
