#include "dataset/DataSet.h"

#include <algorithm>
#include <cstring>

#include "dataset/DataSource.h"

namespace vz::data {

DataSet::DataSet() = default;

DataSet::~DataSet() {
  destroying_ = true;
  for (DataSource* s : std::vector<DataSource*>(sources_)) s->SetDataSet(nullptr);
}

// --- Opening and closing ---------------------------------------------------------------

void DataSet::SetActive(bool on) {
  if (on == Active()) return;
  if (on) {
    if (BeforeOpen) BeforeOpen(*this);
    OpenCursor();
    if (AfterOpen) AfterOpen(*this);
  } else {
    if (BeforeClose) BeforeClose(*this);
    if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) Cancel();
    CloseCursor();
    if (AfterClose) AfterClose(*this);
  }
}

void DataSet::OpenCursor() {
  InternalOpen();
  BindFields();
  buffers_.clear();
  bufferCount_ = 0;
  state_ = DataSetState::Browse;  // quietly: the links hear it below
  int wanted = 1;
  for (DataSource* s : sources_)
    for (DataLink* l : s->Links()) wanted = std::max(wanted, l->BufferCount());
  SetBufferCount(wanted);
  ClearBuffers();
  InternalFirst();
  GetNextRecords();
  bof_ = true;
  eof_ = recordCount_ == 0;
  Notify(DataEvent::UpdateState, 0);
}

void DataSet::CloseCursor() {
  ClearBuffers();
  InternalClose();
  DestroyDefaultFields();
  buffers_.clear();
  bufferCount_ = 0;
  SetState(DataSetState::Inactive);
}

void DataSet::SetState(DataSetState s) {
  if (s == state_) return;
  state_ = s;
  Notify(DataEvent::UpdateState, 0);
}

// --- Fields ----------------------------------------------------------------------------

Field* DataSet::FindField(const std::string& name) const {
  auto fold = [](std::string s) {
    for (char& c : s)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
  };
  const std::string wanted = fold(name);
  for (const auto& f : fields_)
    if (fold(f->FieldName()) == wanted) return f.get();
  return nullptr;
}

Field* DataSet::FieldByName(const std::string& name) const {
  Field* f = FindField(name);
  if (!f) throw DatabaseError(name_ + ": Field '" + name + "' not found");
  return f;
}

Field* DataSet::AddField(std::unique_ptr<Field> field) {
  if (Active()) throw DatabaseError("Cannot perform this operation on an open dataset");
  field->SetDataSet(this);
  fields_.push_back(std::move(field));
  return fields_.back().get();
}

void DataSet::CreateDefaultFields() {
  for (const FieldDef& def : fieldDefs_) {
    std::unique_ptr<Field> f = CreateField(def);
    if (!f) continue;
    f->SetDefault(true);
    f->SetDataSet(this);
    fields_.push_back(std::move(f));
  }
  defaultFields_ = true;
}

void DataSet::DestroyDefaultFields() {
  if (!defaultFields_) return;
  fields_.erase(std::remove_if(fields_.begin(), fields_.end(),
                               [](const std::unique_ptr<Field>& f) { return f->IsDefault(); }),
                fields_.end());
  defaultFields_ = false;
}

void DataSet::BindFields() {
  std::size_t calc = 0;
  for (auto& f : fields_) {
    f->SetDataSet(this);
    if (f->Calculated()) {
      f->SetOffset(calc);
      calc += 1 + f->DataSize();
    } else if (f->FieldNo() == 0) {
      for (const FieldDef& d : fieldDefs_) {
        std::string a = d.Name, b = f->FieldName();
        for (char& c : a) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (char& c : b) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (a == b) f->SetFieldNo(d.FieldNo);
      }
    }
  }
  calcFieldsSize_ = calc;
}

std::unique_ptr<Stream> DataSet::CreateBlobStream(Field*, BlobMode) {
  return nullptr;
}

void DataSet::CalculateFields(std::uint8_t* buffer) {
  if (calcFieldsSize_ == 0) return;
  const std::size_t recordEnd = RecordBufferSize() - calcFieldsSize_;
  (void)recordEnd;
  const DataSetState saved = state_;
  std::uint8_t* const savedCalc = calcBuffer_;
  calcBuffer_ = buffer;
  state_ = DataSetState::CalcFields;
  try {
    if (AutoCalcFields && OnCalcFields) OnCalcFields(*this);
  } catch (...) {
    state_ = saved;
    calcBuffer_ = savedCalc;
    throw;
  }
  state_ = saved;
  calcBuffer_ = savedCalc;
}

// --- The window --------------------------------------------------------------------------

std::uint8_t* DataSet::ActiveBuffer() {
  if (state_ == DataSetState::CalcFields && calcBuffer_) return calcBuffer_;
  if (buffers_.empty()) return nullptr;
  return buffers_[static_cast<std::size_t>(activeRecord_)].data();
}

void DataSet::ClearBuffers() {
  recordCount_ = 0;
  activeRecord_ = 0;
  currentRecord_ = -1;
  bof_ = eof_ = true;
}

void DataSet::SetBufferCount(int n) {
  if (n < 1) n = 1;
  if (n == bufferCount_) return;
  const std::size_t size = RecordBufferSize();
  if (n < bufferCount_) {
    // Keep the active record inside the smaller window.
    const int drop = std::max(0, activeRecord_ - (n - 1));
    if (drop > 0) {
      std::rotate(buffers_.begin(), buffers_.begin() + drop, buffers_.begin() + bufferCount_);
      activeRecord_ -= drop;
      recordCount_ -= drop;
      if (currentRecord_ >= 0)
        currentRecord_ = currentRecord_ - drop >= 0 ? currentRecord_ - drop : -1;
    }
    if (recordCount_ > n) recordCount_ = n;
    if (currentRecord_ >= n) currentRecord_ = -1;
    buffers_.resize(static_cast<std::size_t>(n) + 1);
    buffers_.back().assign(size, 0);
    bufferCount_ = n;
    return;
  }
  buffers_.resize(static_cast<std::size_t>(n) + 1);
  for (auto& b : buffers_) b.resize(size, 0);
  bufferCount_ = n;
  if (state_ == DataSetState::Browse && recordCount_ > 0) {
    // Fill the new room: after the window, then before it.
    GetNextRecords();
    const int added = GetPriorRecords();
    activeRecord_ += added;
    UpdateCursorPos();
  }
}

void DataSet::UpdateBufferCount() {
  if (!Active()) return;
  int wanted = 1;
  for (DataSource* s : sources_)
    for (DataLink* l : s->Links()) wanted = std::max(wanted, l->BufferCount());
  if (wanted == bufferCount_) return;
  UpdateCursorPos();
  SetBufferCount(wanted);
  Notify(DataEvent::LayoutChange, 0);
}

int DataSet::SetActiveRecordFor(int i) {
  const int old = activeRecord_;
  if (i >= 0 && i < std::max(1, recordCount_)) activeRecord_ = i;
  return old;
}

void DataSet::SetCurrentRecord(int i) {
  if (currentRecord_ == i || i < 0 || i >= recordCount_) return;
  std::uint8_t* b = buffers_[static_cast<std::size_t>(i)].data();
  // A buffer that holds no stored record yet (an appended or inserted one)
  // puts the cursor where that record will be.
  switch (GetBookmarkFlag(b)) {
    case BookmarkFlag::Bof: InternalFirst(); break;
    case BookmarkFlag::Eof: InternalLast(); break;
    default: InternalSetToRecord(b); break;
  }
  currentRecord_ = i;
}

void DataSet::UpdateCursorPos() {
  if (state_ != DataSetState::Inactive && recordCount_ > 0) SetCurrentRecord(activeRecord_);
}

bool DataSet::GetNextRecord() {
  if (recordCount_ > 0) SetCurrentRecord(recordCount_ - 1);
  std::vector<std::uint8_t>& spare = buffers_.back();
  if (GetRecord(spare.data(), GetMode::Next) != GetResult::Ok) return false;
  if (recordCount_ == 0) bof_ = eof_ = false;
  if (recordCount_ == bufferCount_) {
    // The window is full: the first record leaves it (its buffer becomes the
    // spare) and the new one takes the last place.
    std::rotate(buffers_.begin(), buffers_.begin() + 1, buffers_.end());
  } else {
    std::swap(buffers_[static_cast<std::size_t>(recordCount_)], spare);
    ++recordCount_;
  }
  currentRecord_ = recordCount_ - 1;
  return true;
}

bool DataSet::GetPriorRecord() {
  if (recordCount_ > 0) SetCurrentRecord(0);
  std::vector<std::uint8_t>& spare = buffers_.back();
  if (GetRecord(spare.data(), GetMode::Prior) != GetResult::Ok) return false;
  if (recordCount_ == 0) bof_ = eof_ = false;
  // The new record goes in front and the others move back one place; when
  // the window is full its last record leaves (its buffer becomes the spare).
  std::rotate(buffers_.begin(), buffers_.end() - 1, buffers_.end());
  if (recordCount_ < bufferCount_) ++recordCount_;
  currentRecord_ = 0;
  return true;
}

int DataSet::GetNextRecords() {
  int added = 0;
  while (recordCount_ < bufferCount_ && GetNextRecord()) ++added;
  return added;
}

int DataSet::GetPriorRecords() {
  int added = 0;
  while (recordCount_ < bufferCount_ && GetPriorRecord()) ++added;
  return added;
}

bool DataSet::IsEmpty() const {
  return !Active() || recordCount_ == 0;
}

// --- Moving -------------------------------------------------------------------------------

void DataSet::CheckBrowseMode() {
  if (!Active()) throw DatabaseError(name_ + ": Cannot perform this operation on a closed dataset");
  Notify(DataEvent::CheckBrowseMode, 0);
  if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) {
    Notify(DataEvent::UpdateRecord, 0);
    Post();
  } else if (state_ == DataSetState::SetKey) {
    SetState(DataSetState::Browse);
  }
}

void DataSet::First() {
  CheckBrowseMode();
  if (BeforeScroll) BeforeScroll(*this);
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecords();
  } catch (...) {
    bof_ = true;
    Notify(DataEvent::DataSetChange, 0);
    throw;
  }
  bof_ = true;
  eof_ = recordCount_ == 0;
  Notify(DataEvent::DataSetChange, 0);
  DoAfterScroll();
}

void DataSet::Last() {
  CheckBrowseMode();
  if (BeforeScroll) BeforeScroll(*this);
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecords();
  } catch (...) {
    eof_ = true;
    Notify(DataEvent::DataSetChange, 0);
    throw;
  }
  eof_ = true;
  bof_ = recordCount_ == 0;
  activeRecord_ = std::max(0, recordCount_ - 1);
  Notify(DataEvent::DataSetChange, 0);
  DoAfterScroll();
}

int DataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int moved = 0;
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    if (BeforeScroll) BeforeScroll(*this);
    bof_ = eof_ = false;
    const int oldCount = recordCount_;
    int shift = 0;
    while (distance > 0) {
      if (activeRecord_ < recordCount_ - 1) {
        ++activeRecord_;
      } else {
        const int before = recordCount_;
        if (!GetNextRecord()) {
          eof_ = true;
          break;
        }
        if (recordCount_ == before) ++shift;
        activeRecord_ = recordCount_ - 1;
      }
      --distance;
      ++moved;
    }
    while (distance < 0) {
      if (activeRecord_ > 0) {
        --activeRecord_;
      } else {
        const int before = recordCount_;
        if (!GetPriorRecord()) {
          bof_ = true;
          break;
        }
        if (recordCount_ == before) --shift;
        activeRecord_ = 0;
      }
      ++distance;
      --moved;
    }
    if (recordCount_ != oldCount)
      Notify(DataEvent::DataSetChange, 0);
    else
      Notify(DataEvent::DataSetScroll, shift);
    DoAfterScroll();
  }
  return moved;
}

bool DataSet::AtEnd(GetMode towards) {
  if (!Active() || recordCount_ == 0) return true;
  const bool prior = towards == GetMode::Prior;
  if (prior ? activeRecord_ > 0 : activeRecord_ < recordCount_ - 1) return false;
  if (prior ? bof_ : eof_) return true;
  // A record being edited or inserted has no neighbour to ask about yet.
  if (state_ != DataSetState::Browse) return false;
  SetCurrentRecord(activeRecord_);
  // The spare buffer past the window receives the neighbour.
  const bool neighbour = GetRecord(buffers_.back().data(), towards) == GetResult::Ok;
  // The cursor went to the neighbour (or past the end): back onto the
  // active record.
  CursorPosChanged();
  UpdateCursorPos();
  return !neighbour;
}

void DataSet::Resync(bool keepRow) {
  const int oldActive = activeRecord_;
  std::uint8_t* first = buffers_.front().data();
  GetResult r = GetRecord(first, GetMode::Current);
  if (r != GetResult::Ok) r = GetRecord(first, GetMode::Next);
  if (r != GetResult::Ok) r = GetRecord(first, GetMode::Prior);
  if (r != GetResult::Ok) {
    ClearBuffers();
    Notify(DataEvent::DataSetChange, 0);
    return;
  }
  recordCount_ = 1;
  activeRecord_ = 0;
  currentRecord_ = 0;
  bof_ = eof_ = false;
  if (keepRow) {
    for (int i = 0; i < oldActive && recordCount_ < bufferCount_; ++i) {
      if (!GetPriorRecord()) break;
      ++activeRecord_;
    }
  }
  GetNextRecords();
  const int added = GetPriorRecords();
  activeRecord_ += added;
  // The fills leave the cursor on the rows they read last: back onto the
  // active record.
  UpdateCursorPos();
  Notify(DataEvent::DataSetChange, 0);
}

void DataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  Resync(true);
}

Bookmark DataSet::GetBookmark() {
  if (!Active() || recordCount_ == 0) return {};
  return GetBookmarkData(ActiveBuffer());
}

void DataSet::GotoBookmark(const Bookmark& b) {
  if (b.empty()) return;
  CheckBrowseMode();
  if (BeforeScroll) BeforeScroll(*this);
  InternalGotoBookmark(b);
  Resync(true);
  DoAfterScroll();
}

bool DataSet::GetCurrentRecord(std::uint8_t*) {
  return false;
}

void DataSet::DoAfterScroll() {
  if (AfterScroll) AfterScroll(*this);
}

void DataSet::DoAfterDelete() {
  if (AfterDelete) AfterDelete(*this);
}

void DataSet::DoBeforeCancel() {
  if (BeforeCancel) BeforeCancel(*this);
}

// --- Editing ------------------------------------------------------------------------------

void DataSet::Edit() {
  if (state_ == DataSetState::Edit || state_ == DataSetState::Insert) return;
  if (!Active()) throw DatabaseError(name_ + ": Cannot perform this operation on a closed dataset");
  if (!CanModify()) throw DatabaseError(name_ + ": Cannot modify a read-only dataset");
  if (recordCount_ == 0) {
    Append();
    return;
  }
  CheckBrowseMode();
  if (BeforeEdit) BeforeEdit(*this);
  UpdateCursorPos();
  InternalEdit();
  SetState(DataSetState::Edit);
  Notify(DataEvent::RecordChange, 0);
  if (AfterEdit) AfterEdit(*this);
}

void DataSet::Insert() {
  if (!Active()) throw DatabaseError(name_ + ": Cannot perform this operation on a closed dataset");
  if (!CanModify()) throw DatabaseError(name_ + ": Cannot modify a read-only dataset");
  CheckBrowseMode();
  if (BeforeInsert) BeforeInsert(*this);
  // Make room at the active row: the window's last record leaves when full.
  UpdateCursorPos();
  // The new record stands where the active one stood: it keeps that
  // record's bookmark, so that the cursor can go back there.
  const Bookmark here = recordCount_ > 0 ? GetBookmarkData(ActiveBuffer()) : Bookmark{};
  if (recordCount_ == bufferCount_) recordCount_ = bufferCount_ - 1;
  std::rotate(buffers_.begin() + activeRecord_, buffers_.begin() + recordCount_,
              buffers_.begin() + recordCount_ + 1);
  ++recordCount_;
  if (currentRecord_ >= activeRecord_) ++currentRecord_;
  if (currentRecord_ >= recordCount_) currentRecord_ = -1;
  std::uint8_t* b = ActiveBuffer();
  std::memset(b, 0, RecordBufferSize());
  InternalInitRecord(b);
  if (here.empty()) {
    SetBookmarkFlag(b, BookmarkFlag::Bof);
  } else {
    SetBookmarkData(b, here);
    SetBookmarkFlag(b, BookmarkFlag::Inserted);
  }
  bof_ = eof_ = false;
  SetState(DataSetState::Insert);
  if (OnNewRecord) OnNewRecord(*this);
  Notify(DataEvent::DataSetChange, 0);
  if (AfterInsert) AfterInsert(*this);
}

void DataSet::Append() {
  if (!Active()) throw DatabaseError(name_ + ": Cannot perform this operation on a closed dataset");
  if (!CanModify()) throw DatabaseError(name_ + ": Cannot modify a read-only dataset");
  CheckBrowseMode();
  if (BeforeInsert) BeforeInsert(*this);
  ClearBuffers();
  std::uint8_t* b = buffers_.front().data();
  std::memset(b, 0, RecordBufferSize());
  InternalInitRecord(b);
  SetBookmarkFlag(b, BookmarkFlag::Eof);
  recordCount_ = 1;
  activeRecord_ = 0;
  bof_ = false;
  eof_ = true;
  SetState(DataSetState::Insert);
  if (OnNewRecord) OnNewRecord(*this);
  Notify(DataEvent::DataSetChange, 0);
  if (AfterInsert) AfterInsert(*this);
}

void DataSet::Post() {
  if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
  Notify(DataEvent::UpdateRecord, 0);
  if (BeforePost) BeforePost(*this);
  InternalPost();
  SetState(DataSetState::Browse);
  Resync(true);
  if (AfterPost) AfterPost(*this);
}

void DataSet::Cancel() {
  if (state_ != DataSetState::Edit && state_ != DataSetState::Insert) return;
  DoBeforeCancel();
  InternalCancel();
  SetState(DataSetState::Browse);
  UpdateCursorPos();
  Resync(true);
  if (AfterCancel) AfterCancel(*this);
}

void DataSet::Delete() {
  if (!Active()) throw DatabaseError(name_ + ": Cannot perform this operation on a closed dataset");
  if (state_ == DataSetState::Insert) {
    Cancel();
    return;
  }
  if (recordCount_ == 0)
    throw DatabaseError(name_ + ": Cannot perform this operation on an empty dataset");
  if (!CanModify()) throw DatabaseError(name_ + ": Cannot modify a read-only dataset");
  CheckBrowseMode();
  if (BeforeDelete) BeforeDelete(*this);
  UpdateCursorPos();
  InternalDelete();
  Resync(true);
  DoAfterDelete();
}

void DataSet::DataChanged(Field* field) {
  Notify(DataEvent::FieldChange, reinterpret_cast<std::intptr_t>(field));
}

// --- Controls and notifications ------------------------------------------------------------

void DataSet::DisableControls() {
  ++disableCount_;
}

void DataSet::EnableControls() {
  if (disableCount_ == 0) return;
  if (--disableCount_ > 0) return;
  // The controls missed whatever happened meanwhile (also moves made behind
  // the dataset's back): one change brings them up to date.
  if (Active()) Notify(DataEvent::DataSetChange, 0);
}

void DataSet::AddDataSource(DataSource* s) {
  if (std::find(sources_.begin(), sources_.end(), s) == sources_.end()) sources_.push_back(s);
}

void DataSet::RemoveDataSource(DataSource* s) {
  sources_.erase(std::remove(sources_.begin(), sources_.end(), s), sources_.end());
}

void DataSet::NotifyLinks(DataEvent e, std::intptr_t info) {
  Notify(e, info);
}

void DataSet::Notify(DataEvent e, std::intptr_t info) {
  // While the controls are disabled they hear of nothing but state and
  // activity changes; EnableControls brings them up to date.
  if (disableCount_ > 0 && e != DataEvent::UpdateState && e != DataEvent::ActiveChange) return;
  DataEventHook(e, info);
}

void DataSet::DataEventHook(DataEvent e, std::intptr_t info) {
  for (DataSource* s : std::vector<DataSource*>(sources_)) s->Notify(e, info);
}

}  // namespace vz::data
