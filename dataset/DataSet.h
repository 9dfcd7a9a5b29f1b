// The dataset of the data-access framework: a window of record buffers
// filled through hooks that a concrete dataset (the table component)
// implements, a cursor that moves through that window, states for browsing
// and editing, and notifications to the data links of its data sources.
//
// The window holds up to BufferCount() records, as many as the data link
// that wants most; one buffer is the active record. The concrete dataset
// keeps a cursor of its own (for the table: the storage engine's record
// pointer); CurrentRecord() tells which buffer it stands on, and the
// framework moves it to a buffer with InternalSetToRecord before it fetches
// the records next to that buffer.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/Fields.h"
#include "dataset/Stream.h"

namespace vz::data {

class DataSource;
class DataLink;

enum class DataSetState { Inactive, Browse, Edit, Insert, SetKey, CalcFields };
enum class GetMode { Current, Next, Prior };
enum class GetResult { Ok, Bof, Eof, Error };
enum class BookmarkFlag : std::uint8_t { Current = 0, Bof = 1, Eof = 2, Inserted = 3 };
enum class BlobMode { Read = 0, Write = 1, ReadWrite = 2 };

enum class DataEvent {
  FieldChange,   // info: the field
  RecordChange,  // info: the field, or none
  DataSetChange,
  DataSetScroll,  // info: the distance the window moved
  LayoutChange,
  UpdateRecord,
  UpdateState,
  CheckBrowseMode,
  FocusControl,  // info: the field
  ActiveChange,
};

using Bookmark = std::vector<std::uint8_t>;
using DataSetEvent = std::function<void(class DataSet&)>;

class DataSet {
 public:
  DataSet();
  virtual ~DataSet();
  DataSet(const DataSet&) = delete;
  DataSet& operator=(const DataSet&) = delete;

  // --- Opening and state ---
  bool Active() const { return state_ != DataSetState::Inactive; }
  void SetActive(bool on);
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  DataSetState State() const { return state_; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& n) { name_ = n; }

  // --- Moving ---
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves the active record; returns how far it moved.
  int MoveBy(int distance);
  // Re-reads the window around the cursor. With `keepRow` the active record
  // keeps its row in the window when enough records lie before it.
  void Resync(bool keepRow = true);
  void Refresh();
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  // Whether the active record is the first / the last one in the current
  // order, however it was reached. The flags above say so only when the
  // last move ran into that end; otherwise, when the window holds no record
  // before (after) the active one, the concrete dataset is asked for that
  // neighbour. The window and the active record stay as they are.
  bool AtFirstRecord() { return AtEnd(GetMode::Prior); }
  bool AtLastRecord() { return AtEnd(GetMode::Next); }
  bool IsEmpty() const;

  Bookmark GetBookmark();
  void GotoBookmark(const Bookmark& b);

  // --- Editing ---
  void Edit();
  void Insert();
  void Append();
  void Post();
  void Cancel();
  void Delete();
  void CheckBrowseMode();
  // Tells the links that a field of the active record changed.
  void DataChanged(Field* field);

  // --- Controls ---
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disableCount_ > 0; }

  // --- Fields ---
  std::vector<std::unique_ptr<Field>>& Fields() { return fields_; }
  const std::vector<FieldDef>& FieldDefs() const { return fieldDefs_; }
  Field* FindField(const std::string& name) const;
  Field* FieldByName(const std::string& name) const;  // throws when missing
  // Adds a field object before the dataset opens (a persistent field, for
  // instance a calculated one).
  Field* AddField(std::unique_ptr<Field> field);
  virtual std::unique_ptr<Stream> CreateBlobStream(Field* field, BlobMode mode);

  // --- Counting ---
  virtual int RecordCount() { return GetRecordCount(); }
  virtual int RecNo() { return GetRecNo(); }
  void SetRecNo(int n) { SetRecNoHook(n); }
  virtual bool CanModify() { return true; }

  // --- The window, for data links ---
  int BufferCount() const { return bufferCount_; }
  int WindowRecordCount() const { return recordCount_; }
  int ActiveRecord() const { return activeRecord_; }
  int CurrentRecord() const { return currentRecord_; }
  std::uint8_t* Buffer(int i) { return buffers_[static_cast<std::size_t>(i)].data(); }
  std::uint8_t* ActiveBuffer();
  // Called by data links when their needs change.
  void UpdateBufferCount();
  // The links' view: makes buffer i the active record for a moment (the
  // grid draws each row this way); returns the previous active record.
  int SetActiveRecordFor(int i);

  // --- Data sources ---
  void AddDataSource(DataSource* s);
  void RemoveDataSource(DataSource* s);
  void NotifyLinks(DataEvent e, std::intptr_t info = 0);

  // --- Events ---
  DataSetEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert,
      BeforeEdit, AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel, BeforeDelete,
      AfterDelete, BeforeScroll, AfterScroll, OnCalcFields, OnNewRecord;
  bool AutoCalcFields = true;

  // Field values of the active (or calculated-fields) buffer.
  virtual bool GetFieldData(const Field* field, void* buffer) = 0;
  virtual void SetFieldData(Field* field, const void* buffer) = 0;
  bool CalcFieldsRunning() const { return state_ == DataSetState::CalcFields; }
  std::uint8_t* CalcBuffer() const { return calcBuffer_; }
  std::size_t CalcFieldsSize() const { return calcFieldsSize_; }

 protected:
  // --- Hooks of a concrete dataset ---
  virtual void InternalOpen() = 0;
  virtual void InternalClose() = 0;
  virtual bool IsCursorOpen() const = 0;
  virtual GetResult GetRecord(std::uint8_t* buffer, GetMode mode) = 0;
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  virtual void InternalGotoBookmark(const Bookmark& b) = 0;
  virtual void InternalSetToRecord(std::uint8_t* buffer) = 0;
  virtual Bookmark GetBookmarkData(const std::uint8_t* buffer) = 0;
  virtual void SetBookmarkData(std::uint8_t* buffer, const Bookmark& b) = 0;
  virtual BookmarkFlag GetBookmarkFlag(const std::uint8_t* buffer) = 0;
  virtual void SetBookmarkFlag(std::uint8_t* buffer, BookmarkFlag f) = 0;
  virtual std::size_t RecordBufferSize() = 0;  // bytes of one record buffer
  virtual int GetRecordCount() = 0;
  virtual int GetRecNo() = 0;
  virtual void SetRecNoHook(int n) = 0;
  virtual void InternalInitRecord(std::uint8_t* buffer) = 0;
  virtual void InternalEdit() {}
  virtual void InternalPost() {}
  virtual void InternalCancel() {}
  virtual void InternalDelete() {}
  virtual void InternalInitFieldDefs() = 0;
  // The field object for a definition when the dataset makes its default
  // fields (a concrete dataset may use its own field classes).
  virtual std::unique_ptr<Field> CreateField(const FieldDef& def) { return MakeField(def); }
  virtual void InternalHandleException() {}
  // Fills the window forwards / backwards from the cursor; returns how many
  // records were added.
  virtual int GetNextRecords();
  virtual int GetPriorRecords();
  // Called after every scroll, delete and before a cancel.
  virtual void DoAfterScroll();
  virtual void DoAfterDelete();
  virtual void DoBeforeCancel();
  // Every event for the links passes here first.
  virtual void DataEventHook(DataEvent e, std::intptr_t info);
  // Fills a buffer from the current record (false: none).
  virtual bool GetCurrentRecord(std::uint8_t* buffer);

  // --- Tools for concrete datasets ---
  void SetState(DataSetState s);
  void ClearBuffers();
  void SetCurrentRecord(int i);
  void CursorPosChanged() { currentRecord_ = -1; }
  // Moves the cursor to the active record (when it stands elsewhere).
  void UpdateCursorPos();
  void CalculateFields(std::uint8_t* buffer);
  std::vector<FieldDef>& MutableFieldDefs() { return fieldDefs_; }
  void CreateDefaultFields();
  void DestroyDefaultFields();
  bool DefaultFields() const { return defaultFields_; }
  void BindFields();
  bool Destroying() const { return destroying_; }
  void SetDestroying() { destroying_ = true; }
  bool GetNextRecord();
  bool GetPriorRecord();

 private:
  void OpenCursor();
  void CloseCursor();
  void SetBufferCount(int n);
  void Notify(DataEvent e, std::intptr_t info);
  bool AtEnd(GetMode towards);

  std::string name_;
  DataSetState state_ = DataSetState::Inactive;
  std::vector<std::unique_ptr<Field>> fields_;
  std::vector<FieldDef> fieldDefs_;
  bool defaultFields_ = false;
  std::vector<std::vector<std::uint8_t>> buffers_;  // bufferCount_ + 1 (the last is spare)
  int bufferCount_ = 0;
  int recordCount_ = 0;
  int activeRecord_ = 0;
  int currentRecord_ = -1;
  bool bof_ = true;
  bool eof_ = true;
  int disableCount_ = 0;
  std::vector<DataSource*> sources_;
  std::uint8_t* calcBuffer_ = nullptr;
  std::size_t calcFieldsSize_ = 0;
  bool destroying_ = false;
};

}  // namespace vz::data
