// The table component's moves: records fetched for the framework's
// buffers by GO and SKIP over the engine's work area (the controlling
// index's order, deleted records passed over, the while range kept), and
// the engine steps each move is made of.
#include <cstring>
#include <utility>

#include "engine/Dbf4.h"
#include "engine/TZDbfLow.h"
#include "engine/tzmsg.h"
#include "index/TZNDX.h"
#include "platform/hooks.h"
#include "table/TableDataSet.h"

namespace vz {

using data::DataSetState;
using data::GetMode;
using data::GetResult;

// --- Record fetch ---------------------------------------------------------------------------

GetResult TTzDataSet::GetRecord(std::uint8_t* buffer, GetMode mode) {
  GetResult result = GetResult::Ok;
  switch (mode) {
    case GetMode::Current: {
      if (s_IsEmpty() || (s_dEOF() && s_dBOF())) return GetResult::Error;
      s_Skip(s_dEOF() ? -1 : 0);
      CopyIn(buffer);
      if ((buffer[0] && HideDeletedRecs) || !s_InWhileRange()) result = GetResult::Error;
      break;
    }
    case GetMode::Next:
      do {
        if (s_IsEmpty()) return GetResult::Eof;
        if (Bof() && Eof()) s_GoTopWhile();
        else if (!s_dEOF()) s_Skip(1);
        if (s_dEOF()) return GetResult::Eof;
        CopyIn(buffer);
      } while (buffer[0] && HideDeletedRecs);
      break;
    case GetMode::Prior:
      do {
        if (s_IsEmpty()) return GetResult::Bof;
        if (!s_dBOF()) s_Skip(-1);
        if (s_dBOF()) return GetResult::Bof;
        CopyIn(buffer);
      } while (buffer[0] && HideDeletedRecs);
      break;
  }
  if (result != GetResult::Ok) return result;
  CalculateFields(buffer);
  std::int64_t r = s_RecNo();
  const std::int64_t count = s_RecCount();
  if (r > count) r = count;
  if (r < 1) r = 1;
  const std::uint32_t recNo = static_cast<std::uint32_t>(r);
  std::memcpy(buffer + RecNoOffset(), &recNo, 4);
  buffer[FlagOffset()] = static_cast<std::uint8_t>(data::BookmarkFlag::Current);
  std::memcpy(buffer + BookmarkOffset(), &recNo, 4);
  return GetResult::Ok;
}

void TTzDataSet::InternalFirst() {
  s_GoTopWhile();
  if (!s_dBOF()) s_Skip(-1);
}

void TTzDataSet::InternalLast() {
  s_GoBottomWhile();
  if (!s_dEOF()) s_Skip(1);
}

void TTzDataSet::InternalGotoBookmark(const data::Bookmark& b) {
  std::uint32_t n = 0;
  std::memcpy(&n, b.data(), std::min<std::size_t>(4, b.size()));
  s_Go(n);
}

void TTzDataSet::InternalSetToRecord(std::uint8_t* buffer) { InternalGotoBookmark(GetBookmarkData(buffer)); }

bool TTzDataSet::BookmarkValid(const data::Bookmark& b) {
  if (b.size() < 4) return false;
  std::int32_t n = 0;
  std::memcpy(&n, b.data(), 4);
  try {
    if (n <= 0 || n > s_RecCount()) return false;
    ScopedErrorDispatch quiet(false);
    s_Go(n);
    if (Engine().Errors.ErrorCode != 0) return false;
    return !HideDeletedRecs || !Deleted();
  } catch (...) {
    return false;
  }
}

int TTzDataSet::CompareBookmarks(const data::Bookmark& a, const data::Bookmark& b) {
  if (a.size() < 4 || b.size() < 4) return 1;
  return std::memcmp(a.data(), b.data(), 4) == 0 ? 0 : 1;
}

int TTzDataSet::GetRecordCount() { return static_cast<int>(s_RecCount()); }

int TTzDataSet::GetRecNo() {
  if (ControlsDisabled()) return static_cast<int>(s_RecNo());
  const std::uint8_t* b = ActiveBuffer();
  if (!b || WindowRecordCount() == 0) return 0;
  std::uint32_t n;
  std::memcpy(&n, b + RecNoOffset(), 4);
  return static_cast<int>(n);
}

void TTzDataSet::SetRecNoHook(int n) {
  const std::uint32_t v = static_cast<std::uint32_t>(n);
  data::Bookmark b(4);
  std::memcpy(b.data(), &v, 4);
  GotoBookmark(b);
}

bool TTzDataSet::IsSequenced() {
  SelectWorkArea("IsSequenced");
  return CurrentOrder() == 0;
}

void TTzDataSet::InternalEdit() { s_Skip(0); }

void TTzDataSet::InternalInitRecord(std::uint8_t* buffer) {
  std::memset(buffer, 0, RecordBufferSize());
  s_ClearRecord();
}

int TTzDataSet::GetNextRecords() {
  const int n = TDataSet::GetNextRecords();
  s_UpdateCursorPos();
  return n;
}

int TTzDataSet::GetPriorRecords() {
  const int n = TDataSet::GetPriorRecords();
  s_UpdateCursorPos();
  return n;
}

void TTzDataSet::DoAfterScroll() {
  s_UpdateCursorPos();
  TDataSet::DoAfterScroll();
}

void TTzDataSet::DoAfterDelete() {
  if (WindowRecordCount() == 0) s_GoBottomWhile();
  TDataSet::DoAfterDelete();
}

void TTzDataSet::DoBeforeCancel() {
  TDataSet::DoBeforeCancel();
  if (State() == DataSetState::Edit) s_HandleWhileAfterPost();
  else s_HandleWhileAfterInsert();
}

void TTzDataSet::DataEventHook(data::DataEvent e, std::intptr_t info) {
  if (e == data::DataEvent::DataSetChange && resyncPending_ && !ControlsDisabled()) {
    ResyncFromEngine();
    // The re-read told the links of the change already.
    if (!resyncPending_) return;
  }
  TDataSet::DataEventHook(e, info);
}

// --- Engine steps --------------------------------------------------------------------------

template <typename F>
void TTzDataSet::WithoutNotification(F f) {
  vz::WorkArea* a = CurrentTable();
  VoidProc saved;
  if (a && !cursorUpdateRunning_) saved = std::exchange(a->AfterMove, nullptr);
  try {
    f();
  } catch (...) {
    if (a && saved && CurrentTable() == a) a->AfterMove = std::move(saved);
    throw;
  }
  if (a && saved && CurrentTable() == a) a->AfterMove = std::move(saved);
}

bool TTzDataSet::s_IsEmpty() {
  SelectWorkArea("s_IsEmpty");
  return CurrentTable()->RecCount == 0 && RecCount() == 0;
}

std::int64_t TTzDataSet::s_RecCount() {
  SelectWorkArea("s_RecCount");
  return RecCount();
}

std::int64_t TTzDataSet::s_RecNo() {
  SelectWorkArea("s_RecNo");
  return vz::RecNo();
}

bool TTzDataSet::s_dEOF() {
  SelectWorkArea("s_dEOF");
  return dEOF();
}

bool TTzDataSet::s_dBOF() {
  SelectWorkArea("s_dBOF");
  return dBOF();
}

void TTzDataSet::s_Skip(std::int64_t n) {
  SelectWorkArea("s_Skip");
  if (CurrentTable()->RecCount == 0 && RecCount() == 0) return;
  WithoutNotification([n] { SKIP(n); });
}

void TTzDataSet::s_Go(std::int64_t n) {
  SelectWorkArea("s_Go");
  const vz::WorkArea* a = CurrentTable();
  if (a->RecCount > 0 && n != a->RecNo) WithoutNotification([n] { GO(n); });
  if (!s_InWhileRange()) s_GoBottomWhile();
}

void TTzDataSet::s_ClearRecord() {
  SelectWorkArea("s_ClearRecord");
  ClearRecord();
}

void TTzDataSet::s_ClearActive() {
  SelectWorkArea("s_ClearActive");
  ClearRecord();
  if (std::uint8_t* b = ActiveBuffer()) CopyIn(b);
}

bool TTzDataSet::s_InWhileRange() {
  if (State() == DataSetState::Edit || State() == DataSetState::Insert || State() == DataSetState::SetKey)
    return true;
  SelectWorkArea("s_InWhileRange");
  return WhileConditionHolds();
}

void TTzDataSet::s_GoTopWhile() {
  SelectWorkArea("s_GoTopWhile");
  if (RecCount() == 0) return;
  if (!IsWhileOn()) {
    WithoutNotification([] { GoTop(); });
    if (dBOF()) s_ClearActive();
    return;
  }
  const bool editing = State() == DataSetState::Edit || State() == DataSetState::Insert ||
                       State() == DataSetState::SetKey;
  if (editing || WhileConditionHolds()) {
    std::int64_t visible = 0;
    while (!dBOF()) {
      if (!Deleted() || !HideDeletedRecs) visible = vz::RecNo();
      WithoutNotification([] { SKIP(-1); });
    }
    if (visible > 0) WithoutNotification([visible] { GO(visible); });
  } else {
    WithoutNotification([] {
      GoBottom();
      SKIP(1);
    });
    s_ClearActive();
  }
}

void TTzDataSet::s_GoBottomWhile() {
  SelectWorkArea("s_GoBottomWhile");
  if (RecCount() == 0) return;
  if (!IsWhileOn()) {
    WithoutNotification([] { GoBottom(); });
    if (dEOF()) s_ClearActive();
    return;
  }
  const bool editing = State() == DataSetState::Edit || State() == DataSetState::Insert ||
                       State() == DataSetState::SetKey;
  if (editing || WhileConditionHolds()) {
    std::int64_t visible = 0;
    while (!dEOF()) {
      if (!Deleted() || !HideDeletedRecs) visible = vz::RecNo();
      WithoutNotification([] { SKIP(1); });
    }
    if (visible > 0) WithoutNotification([visible] { GO(visible); });
  } else {
    WithoutNotification([] {
      GoBottom();
      SKIP(1);
    });
    s_ClearActive();
  }
}

void TTzDataSet::s_UpdateCursorPos() {
  if (cursorUpdateSuppressed_ || Destroying() || !KeptOpen() || workArea_ == 0) return;
  if (WindowRecordCount() == 0) savedRecNo_ = 0;
  SelectWorkArea("s_UpdateCursorPos");
  if (dEOF() && dBOF()) return;
  if (cursorUpdateRunning_) return;
  cursorUpdateRunning_ = true;
  try {
    CursorPosChanged();
    UpdateCursorPos();
  } catch (...) {
    cursorUpdateRunning_ = false;
    throw;
  }
  cursorUpdateRunning_ = false;
  if (s_InWhileRange()) savedRecNo_ = s_RecNo();
}

bool TTzDataSet::RecordInWhileRange() {
  SelectWorkArea("s_InWhileRange");
  return WhileConditionHolds();
}

// The handling after a write or a cancel runs while the dataset is still in
// its editing state, in which s_InWhileRange holds for any record: it asks
// about the engine's record itself.
void TTzDataSet::s_HandleWhileAfterInsert() {
  if (RecordInWhileRange()) return;
  if (savedRecNo_ > 0 && savedRecNo_ <= s_RecCount()) {
    const std::int64_t n = savedRecNo_;
    WithoutNotification([n] { GO(n); });
  }
}

void TTzDataSet::s_HandleWhileAfterPost() {
  if (RecordInWhileRange()) return;
  if (!s_dBOF()) s_Skip(-1);
  if (RecordInWhileRange()) return;
  if (!s_dEOF()) s_Skip(1);
  if (!RecordInWhileRange()) s_GoBottomWhile();
}

void TTzDataSet::ResyncFromEngine() {
  if (ControlsDisabled() || Engine().Errors.ErrorCode != 0) {
    resyncPending_ = true;
    return;
  }
  cursorUpdateSuppressed_ = true;
  resyncPending_ = false;
  SelectWorkArea("ResyncFromEngine");
  vz::WorkArea* a = CurrentTable();
  VoidProc saved = a ? std::exchange(a->AfterMove, nullptr) : nullptr;
  auto restore = [&] {
    if (a && saved && CurrentTable() == a) a->AfterMove = std::move(saved);
    cursorUpdateSuppressed_ = false;
  };
  try {
    if (dEOF() && dBOF()) {
      s_ClearActive();
      Resync(false);
    } else {
      if (State() == DataSetState::Edit || State() == DataSetState::Insert ||
          State() == DataSetState::SetKey)
        Cancel();
      else
        Resync(true);
      CursorPosChanged();
      UpdateCursorPos();
    }
  } catch (...) {
    restore();
    throw;
  }
  restore();
}

}  // namespace vz
