// The table component's base: a dataset of the data-access framework whose
// storage is one work area of the storage engine. It lays out the record
// buffers, answers the framework's hooks by moving the engine with GO and
// SKIP (so records come in the order of the controlling index, deleted ones
// passed over), turns table fields into field objects, and selects its work
// area before every engine call.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dataset/DataSet.h"
#include "dataset/DataSource.h"
#include "dataset/Fields.h"
#include "engine/text_search.h"
#include "table/FieldProps.h"
#include "table/TableDateField.h"

namespace vz {

enum class TableCharset { tlOem, tlAnsi };

// A silent abort: the operation was given up, nothing to report.
class AbortError : public std::runtime_error {
 public:
  AbortError() : std::runtime_error("Operation aborted") {}
};

// Options of the framework's Locate.
struct LocateOptions {
  bool CaseInsensitive = false;
  bool PartialKey = false;
};

class TableDataSet : public data::DataSet {
 public:
  TableDataSet();
  ~TableDataSet() override;

  // --- Properties ---
  bool HideDeletedRecs = false;
  bool ShowProgress = true;
  TableCharset TableLanguage = TableCharset::tlOem;
  std::vector<std::string> DbfFields;
  const std::string& DbfFileName() const { return dbfFileName_; }
  void SetDbfFileName(const std::string& name);
  data::DataSetEvent BeforeRestore, AfterRestore;
  // True while the component is being read from its stored form.
  bool Loading = false;

  int WorkArea() const { return workArea_; }
  vz::FieldProps* FieldProps() const { return fieldProps_.get(); }

  // Selects the table's work area and copies its settings into the engine.
  virtual void SelectWorkArea(const std::string& label);

  // --- Searching and moving (engine side) ---
  void ResyncFromEngine();

  // --- Framework queries ---
  bool GetFieldData(const data::Field* field, void* buffer) override;
  void SetFieldData(data::Field* field, const void* buffer) override;
  // The type letter of the table field with the field's name, or `fallback`.
  char FieldTypeLetter(const data::Field* field, char fallback) const;
  // The grid makes another row the active record: the engine's native
  // record follows.
  void ActivateRow();
  bool RecordDeleted();
  void SetRecordDeleted(bool on);
  bool CanModify() override { return !ReadOnlyFlag(); }
  bool IsSequenced();

  // --- Read-only switch and searches in record-number order ---
  bool ReadOnly = false;

  // Runs the engine's locate scan (record-number order) for the field and
  // value; when it finds a record, the dataset shows it.
  void LocateRec(const std::string& fieldName, const std::string& value);
  // The framework's locate: each field of KeyFields (separated by ";") in
  // turn, with the whole of KeyValues.
  virtual bool Locate(const std::string& keyFields, const std::string& keyValues,
                      LocateOptions options);

  // How a search of the texts ended.
  enum class TextSearch { Found, FoundAfterWrap, NotFound, Cancelled };
  // Finds the next record (`forward`) or the one before, in the table's
  // order, from the record shown, whose memo texts hold every word of
  // `ansiWords` (split at blanks; letter case and accents do not count);
  // at the end it goes on from the other end, up to the record shown
  // (which is looked at last). `progress` is called about every 1,000
  // records with the records looked at; false stops the search. Found: the
  // dataset shows the record. Otherwise the record shown stays.
  TextSearch FindText(const std::string& ansiWords, bool forward,
                      const std::function<bool(std::int64_t)>& progress = nullptr);

  // The record data of the active buffer into the native record.
  void CopyOut(int field);  // 0: all fields

 protected:
  // --- Virtual operations of the component ---
  virtual void DoBeforeRestore() {
    if (BeforeRestore) BeforeRestore(*this);
  }
  virtual void DoAfterRestore() {
    if (AfterRestore) AfterRestore(*this);
  }
  virtual bool InMemoryOnly() const { return false; }
  virtual void InMemoryNameChanged() {}
  virtual void BeforeTableClose() {}
  virtual void AfterTableOpen() {}
  virtual bool OpenFileStep(const std::string& name) = 0;
  virtual bool AppendWithLock() = 0;
  virtual bool DeleteWithLock() = 0;
  virtual bool RestoreWithLock() = 0;
  virtual bool ReplaceWithLock() = 0;
  virtual bool KeptOpen() const { return true; }
  virtual bool ReadOnlyFlag() const { return ReadOnly; }
  // The engine locate for one field with the options, going on past
  // records that are not visible.
  bool EngineLocate(const std::string& field, const std::string& value, LocateOptions options);

  // --- Framework hooks ---
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() const override { return cursorOpen_; }
  data::GetResult GetRecord(std::uint8_t* buffer, data::GetMode mode) override;
  void InternalFirst() override;
  void InternalLast() override;
  void InternalGotoBookmark(const data::Bookmark& b) override;
  void InternalSetToRecord(std::uint8_t* buffer) override;
  data::Bookmark GetBookmarkData(const std::uint8_t* buffer) override;
  void SetBookmarkData(std::uint8_t* buffer, const data::Bookmark& b) override;
  data::BookmarkFlag GetBookmarkFlag(const std::uint8_t* buffer) override;
  void SetBookmarkFlag(std::uint8_t* buffer, data::BookmarkFlag f) override;
  std::size_t RecordBufferSize() override;
  int GetRecordCount() override;
  int GetRecNo() override;
  void SetRecNoHook(int n) override;
  void InternalInitRecord(std::uint8_t* buffer) override;
  void InternalEdit() override;
  void InternalPost() override;
  void InternalDelete() override;
  void InternalInitFieldDefs() override;
  std::unique_ptr<data::Field> CreateField(const data::FieldDef& def) override;
  int GetNextRecords() override;
  int GetPriorRecords() override;
  void DoAfterScroll() override;
  void DoAfterDelete() override;
  void DoBeforeCancel() override;
  void DataEventHook(data::DataEvent e, std::intptr_t info) override;

 public:
  // Bookmark validity and comparison (the grid's questions).
  bool BookmarkValid(const data::Bookmark& b);
  int CompareBookmarks(const data::Bookmark& a, const data::Bookmark& b);

  // --- Engine steps (each selects the work area with its own label) ---
  bool EngineIsEmpty();
  std::int64_t EngineRecCount();
  std::int64_t EngineRecNo();
  bool EngineEof();
  bool EngineBof();
  void EngineSkip(std::int64_t n);
  void EngineGo(std::int64_t n);
  void ClearEngineRecord();
  void ClearEngineActive();
  bool InWhileRange();
  // The first (Top) or last (Bottom) record of the while range, deleted
  // records passed over as the table hides them.
  enum class Edge { Top, Bottom };
  void GoWhileEdge(Edge edge);
  void UpdateEngineCursor();
  void KeepWhileAfterInsert();
  void KeepWhileAfterPost();

 protected:
  bool OpenTable(const std::string& name);
  void CopyIn(std::uint8_t* buffer);
  std::uint8_t* BufferFor() { return ActiveBuffer(); }
  // Layout of a record buffer.
  std::size_t recordDataSize_ = 0;
  std::vector<std::size_t> fieldOffsets_;  // per table field, inside the record data
  std::size_t RecNoOffset() const { return recordDataSize_ + CalcFieldsSize(); }
  std::size_t FlagOffset() const { return RecNoOffset() + 4; }
  std::size_t BookmarkOffset() const { return RecNoOffset() + 5; }

  int workArea_ = 0;
  bool cursorOpen_ = false;
  std::unique_ptr<vz::FieldProps> fieldProps_;
  std::int64_t savedRecNo_ = 0;
  bool resyncPending_ = false;
  bool cursorUpdateRunning_ = false;
  bool cursorUpdateSuppressed_ = false;
  std::string dbfFileName_;

 private:
  // Runs an engine move with the record-change notification taken off.
  template <typename F>
  void WithoutNotification(F f);
  // Whether the engine's record is in the while range, whatever the state.
  bool RecordInWhileRange();
};

}  // namespace vz
