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

enum class TTzTableLanguage { tlOem, tlAnsi };

// A silent abort: the operation was given up, nothing to report.
class EAbort : public std::runtime_error {
 public:
  EAbort() : std::runtime_error("Operation aborted") {}
};

// A data link that also refers to one field.
class TTzDataLink : public data::TDataLink {
 public:
  data::TField* Field() const { return field_; }
  void SetField(data::TField* f) { field_ = f; }

 private:
  data::TField* field_ = nullptr;
};

// Options of the framework's Locate.
struct LocateOptions {
  bool CaseInsensitive = false;
  bool PartialKey = false;
};

class TTzDataSet : public data::TDataSet {
 public:
  TTzDataSet();
  ~TTzDataSet() override;

  // --- Properties ---
  bool HideDeletedRecs = false;
  bool ShowProgress = true;
  TTzTableLanguage TableLanguage = TTzTableLanguage::tlOem;
  std::vector<std::string> DbfFields;
  const std::string& DbfFileName() const { return dbfFileName_; }
  void SetDbfFileName(const std::string& name);
  data::DataSetEvent BeforeRestore, AfterRestore;
  // True while the component is being read from its stored form.
  bool Loading = false;

  int WorkArea() const { return workArea_; }
  TDbfFieldProps* FieldProps() const { return fieldProps_.get(); }

  // Selects the table's work area and copies its settings into the engine.
  virtual void SelectWorkArea(const std::string& label);

  // --- Searching and moving (engine side) ---
  void ResyncFromEngine();

  // --- Framework queries ---
  bool GetFieldData(const data::TField* field, void* buffer) override;
  void SetFieldData(data::TField* field, const void* buffer) override;
  // The type letter of the table field with the field's name, or `fallback`.
  char FieldTypeLetter(const data::TField* field, char fallback) const;
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
  virtual bool Locate(const std::string& keyFields, const std::string& keyValues, LocateOptions options);

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
  std::unique_ptr<data::TField> CreateField(const data::TFieldDef& def) override;
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
  bool s_IsEmpty();
  std::int64_t s_RecCount();
  std::int64_t s_RecNo();
  bool s_dEOF();
  bool s_dBOF();
  void s_Skip(std::int64_t n);
  void s_Go(std::int64_t n);
  void s_ClearRecord();
  void s_ClearActive();
  bool s_InWhileRange();
  void s_GoTopWhile();
  void s_GoBottomWhile();
  void s_UpdateCursorPos();
  void s_HandleWhileAfterInsert();
  void s_HandleWhileAfterPost();

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
  std::unique_ptr<TDbfFieldProps> fieldProps_;
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
