// The table component's moves: records fetched for the framework's
// buffers by GO and SKIP over the engine's work area (the controlling
// index's order, deleted records passed over, the while range kept), and
// the engine steps each move is made of.
#include <cstring>
#include <utility>

#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/indexes.h"
#include "platform/hooks.h"
#include "table/TableDataSet.h"

namespace vz {

using data::DataSetState;
using data::GetMode;
using data::GetResult;

// --- Record fetch ---------------------------------------------------------------------------

GetResult TableDataSet::GetRecord(std::uint8_t* buffer, GetMode mode) {
  GetResult result = GetResult::Ok;
  switch (mode) {
    case GetMode::Current: {
      if (EngineIsEmpty() || (EngineEof() && EngineBof())) return GetResult::Error;
      EngineSkip(EngineEof() ? -1 : 0);
      CopyIn(buffer);
      if ((buffer[0] && HideDeletedRecs) || !InWhileRange()) result = GetResult::Error;
      break;
    }
    case GetMode::Next:
      do {
        if (EngineIsEmpty()) return GetResult::Eof;
        if (Bof() && Eof())
          GoWhileEdge(Edge::Top);
        else if (!EngineEof())
          EngineSkip(1);
        if (EngineEof()) return GetResult::Eof;
        CopyIn(buffer);
      } while (buffer[0] && HideDeletedRecs);
      break;
    case GetMode::Prior:
      do {
        if (EngineIsEmpty()) return GetResult::Bof;
        if (!EngineBof()) EngineSkip(-1);
        if (EngineBof()) return GetResult::Bof;
        CopyIn(buffer);
      } while (buffer[0] && HideDeletedRecs);
      break;
  }
  if (result != GetResult::Ok) return result;
  CalculateFields(buffer);
  std::int64_t r = EngineRecNo();
  const std::int64_t count = EngineRecCount();
  if (r > count) r = count;
  if (r < 1) r = 1;
  const std::uint32_t recNo = static_cast<std::uint32_t>(r);
  std::memcpy(buffer + RecNoOffset(), &recNo, 4);
  buffer[FlagOffset()] = static_cast<std::uint8_t>(data::BookmarkFlag::Current);
  std::memcpy(buffer + BookmarkOffset(), &recNo, 4);
  return GetResult::Ok;
}

void TableDataSet::InternalFirst() {
  GoWhileEdge(Edge::Top);
  if (!EngineBof()) EngineSkip(-1);
}

void TableDataSet::InternalLast() {
  GoWhileEdge(Edge::Bottom);
  if (!EngineEof()) EngineSkip(1);
}

void TableDataSet::InternalGotoBookmark(const data::Bookmark& b) {
  std::uint32_t n = 0;
  std::memcpy(&n, b.data(), std::min<std::size_t>(4, b.size()));
  EngineGo(n);
}

void TableDataSet::InternalSetToRecord(std::uint8_t* buffer) {
  InternalGotoBookmark(GetBookmarkData(buffer));
}

bool TableDataSet::BookmarkValid(const data::Bookmark& b) {
  if (b.size() < 4) return false;
  std::int32_t n = 0;
  std::memcpy(&n, b.data(), 4);
  try {
    if (n <= 0 || n > EngineRecCount()) return false;
    ScopedErrorDispatch quiet(false);
    EngineGo(n);
    if (Engine().Errors.ErrorCode != 0) return false;
    return !HideDeletedRecs || !Deleted();
  } catch (...) {
    return false;
  }
}

int TableDataSet::CompareBookmarks(const data::Bookmark& a, const data::Bookmark& b) {
  if (a.size() < 4 || b.size() < 4) return 1;
  return std::memcmp(a.data(), b.data(), 4) == 0 ? 0 : 1;
}

int TableDataSet::GetRecordCount() {
  return static_cast<int>(EngineRecCount());
}

int TableDataSet::GetRecNo() {
  if (ControlsDisabled()) return static_cast<int>(EngineRecNo());
  const std::uint8_t* b = ActiveBuffer();
  if (!b || WindowRecordCount() == 0) return 0;
  std::uint32_t n;
  std::memcpy(&n, b + RecNoOffset(), 4);
  return static_cast<int>(n);
}

void TableDataSet::SetRecNoHook(int n) {
  const std::uint32_t v = static_cast<std::uint32_t>(n);
  data::Bookmark b(4);
  std::memcpy(b.data(), &v, 4);
  GotoBookmark(b);
}

bool TableDataSet::IsSequenced() {
  SelectWorkArea("IsSequenced");
  return CurrentOrder() == 0;
}

void TableDataSet::InternalEdit() {
  EngineSkip(0);
}

void TableDataSet::InternalInitRecord(std::uint8_t* buffer) {
  std::memset(buffer, 0, RecordBufferSize());
  ClearEngineRecord();
}

int TableDataSet::GetNextRecords() {
  const int n = DataSet::GetNextRecords();
  UpdateEngineCursor();
  return n;
}

int TableDataSet::GetPriorRecords() {
  const int n = DataSet::GetPriorRecords();
  UpdateEngineCursor();
  return n;
}

void TableDataSet::DoAfterScroll() {
  UpdateEngineCursor();
  DataSet::DoAfterScroll();
}

void TableDataSet::DoAfterDelete() {
  if (WindowRecordCount() == 0) GoWhileEdge(Edge::Bottom);
  DataSet::DoAfterDelete();
}

void TableDataSet::DoBeforeCancel() {
  DataSet::DoBeforeCancel();
  if (State() == DataSetState::Edit)
    KeepWhileAfterPost();
  else
    KeepWhileAfterInsert();
}

void TableDataSet::DataEventHook(data::DataEvent e, std::intptr_t info) {
  if (e == data::DataEvent::DataSetChange && resyncPending_ && !ControlsDisabled()) {
    ResyncFromEngine();
    // The re-read told the links of the change already.
    if (!resyncPending_) return;
  }
  DataSet::DataEventHook(e, info);
}

// --- Engine steps --------------------------------------------------------------------------

template <typename F>
void TableDataSet::WithoutNotification(F f) {
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

bool TableDataSet::EngineIsEmpty() {
  SelectWorkArea("s_IsEmpty");
  return CurrentTable()->RecCount == 0 && RecCount() == 0;
}

std::int64_t TableDataSet::EngineRecCount() {
  SelectWorkArea("s_RecCount");
  return RecCount();
}

std::int64_t TableDataSet::EngineRecNo() {
  SelectWorkArea("s_RecNo");
  return vz::RecNo();
}

bool TableDataSet::EngineEof() {
  SelectWorkArea("s_dEOF");
  return dEOF();
}

bool TableDataSet::EngineBof() {
  SelectWorkArea("s_dBOF");
  return dBOF();
}

void TableDataSet::EngineSkip(std::int64_t n) {
  SelectWorkArea("s_Skip");
  if (CurrentTable()->RecCount == 0 && RecCount() == 0) return;
  WithoutNotification([n] { SKIP(n); });
}

void TableDataSet::EngineGo(std::int64_t n) {
  SelectWorkArea("s_Go");
  const vz::WorkArea* a = CurrentTable();
  if (a->RecCount > 0 && n != a->RecNo) WithoutNotification([n] { GO(n); });
  if (!InWhileRange()) GoWhileEdge(Edge::Bottom);
}

void TableDataSet::ClearEngineRecord() {
  SelectWorkArea("s_ClearRecord");
  ClearRecord();
}

void TableDataSet::ClearEngineActive() {
  SelectWorkArea("s_ClearActive");
  ClearRecord();
  if (std::uint8_t* b = ActiveBuffer()) CopyIn(b);
}

bool TableDataSet::InWhileRange() {
  if (State() == DataSetState::Edit || State() == DataSetState::Insert ||
      State() == DataSetState::SetKey)
    return true;
  SelectWorkArea("s_InWhileRange");
  return WhileConditionHolds();
}

void TableDataSet::GoWhileEdge(Edge edge) {
  const bool top = edge == Edge::Top;
  SelectWorkArea(top ? "s_GoTopWhile" : "s_GoBottomWhile");
  if (RecCount() == 0) return;
  const auto atEnd = [top] { return top ? dBOF() : dEOF(); };
  if (!IsWhileOn()) {
    WithoutNotification([top] { top ? GoTop() : GoBottom(); });
    if (atEnd()) ClearEngineActive();
    return;
  }
  const bool editing = State() == DataSetState::Edit || State() == DataSetState::Insert ||
                       State() == DataSetState::SetKey;
  if (editing || WhileConditionHolds()) {
    std::int64_t visible = 0;
    while (!atEnd()) {
      if (!Deleted() || !HideDeletedRecs) visible = vz::RecNo();
      WithoutNotification([top] { SKIP(top ? -1 : 1); });
    }
    if (visible > 0) WithoutNotification([visible] { GO(visible); });
  } else {
    WithoutNotification([] {
      GoBottom();
      SKIP(1);
    });
    ClearEngineActive();
  }
}

void TableDataSet::UpdateEngineCursor() {
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
  if (InWhileRange()) savedRecNo_ = EngineRecNo();
}

bool TableDataSet::RecordInWhileRange() {
  SelectWorkArea("s_InWhileRange");
  return WhileConditionHolds();
}

// The handling after a write or a cancel runs while the dataset is still in
// its editing state, in which InWhileRange holds for any record: it asks
// about the engine's record itself.
void TableDataSet::KeepWhileAfterInsert() {
  if (RecordInWhileRange()) return;
  if (savedRecNo_ > 0 && savedRecNo_ <= EngineRecCount()) {
    const std::int64_t n = savedRecNo_;
    WithoutNotification([n] { GO(n); });
  }
}

void TableDataSet::KeepWhileAfterPost() {
  if (RecordInWhileRange()) return;
  if (!EngineBof()) EngineSkip(-1);
  if (RecordInWhileRange()) return;
  if (!EngineEof()) EngineSkip(1);
  if (!RecordInWhileRange()) GoWhileEdge(Edge::Bottom);
}

void TableDataSet::ResyncFromEngine() {
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
      ClearEngineActive();
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
