#include "table/DbfTable.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/dbt_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/indexes.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace vz {

using data::DataSetState;

// --- The component ---------------------------------------------------------------------------

DbfTable::~DbfTable() {
  SetDestroying();
  try {
    SetActive(false);
  } catch (...) {
  }
}

void DbfTable::SetExclusive(bool on) {
  if (on == exclusive_) return;
  exclusive_ = on;
  if (Active()) {
    SetActive(false);
    SetActive(true);
  }
}

bool DbfTable::OpenFileStep(const std::string& name) {
  if (CreateIfNotFound && !platform::FileExists(platform::ResolveFileName(name))) {
    if (!CreateTable()) platform::ShowMessage("Could not create '" + DbfFileName() + "'");
  }
  std::string command = name;
  if (exclusive_) command += " EXCLUSIVE";
  if (!Trim(Name()).empty()) command += " ALIAS " + Trim(Name());
  // A read-only table opens its indexes and memo file read-only too.
  EngineSettings& settings = Engine().Settings;
  ScopedSetting<int> forcedMode(settings.ForcedFileMode,
                                ReadOnly ? platform::kModeRead : settings.ForcedFileMode);
  {
    ScopedSetting<bool> fix(settings.FixRecCount, AutoFixRecCount);
    USE(command);
  }
  if (Engine().Errors.ErrorCode != 0) return false;
  // The table opened but its indexes did not: nothing stays open, whether
  // the failure was reported or raised.
  auto closeKeepingError = [] {
    ScopedErrorDispatch quiet(false);
    const std::uint16_t code = Engine().Errors.ErrorCode;
    const std::uint16_t messageCode = Engine().Errors.MessageCode;
    const std::string detail = Engine().Errors.ErrorDetail;
    CloseArea();
    Engine().Errors.ErrorCode = code;
    Engine().Errors.MessageCode = messageCode != 0 ? messageCode : code;
    Engine().Errors.ErrorDetail = detail;
  };
  bool ok = false;
  try {
    ok = OpenIndexes();
  } catch (...) {
    closeKeepingError();
    throw;
  }
  if (!ok) closeKeepingError();
  return ok;
}

namespace {

// Opens an index file into an order; a line without a file name names no
// index, and opens nothing.
void OpenIndexFile(const std::string& file, int order) {
  if (Trim(file).empty()) {
    ClearError();
    return;
  }
  vz::SetIndexTo(file, nullptr, order);
}

}  // namespace

bool DbfTable::BuildIndex(const IndexItem& item) {
  bool canMake = true;
  if (OnBeforeMakeIndex) OnBeforeMakeIndex(item.File, canMake);
  if (!canMake) return false;
  std::unique_ptr<IndexBuildProgress> progress;
  BuildProgress steps = IndexEngine().Progress;
  if (ShowProgress) {
    progress = std::make_unique<IndexBuildProgress>("Indexing " + item.File + "...");
    IndexBuildProgress* p = progress.get();
    steps.Step = [p] { p->Step(); };
    steps.Steps = 100;
  }
  {
    // The window takes the build's steps while the build lasts.
    ScopedSetting<BuildProgress> shown(IndexEngine().Progress, std::move(steps));
    Index_On(item.File, item.Expression);
  }
  progress.reset();
  if (OnAfterMakeIndex) OnAfterMakeIndex(item.File);
  if (Engine().Errors.ErrorCode == 0) OpenIndexFile(item.File, 1);
  return true;
}

bool DbfTable::OpenIndexes() {
  // Quiet while the indexes open; a failure is dispatched again afterwards.
  std::optional<ScopedErrorDispatch> quiet(std::in_place, false);
  auto reissue = [&] {
    quiet.reset();
    const int code = Engine().Errors.ErrorCode;
    SetError(code, TakeErrorDetail());
  };
  vz::WorkArea& table = *CurrentTable();
  // The table's file name as an index anchor stores it.
  const std::string tableName =
      platform::AsciiUpper(platform::NameOf(table.FileName)).substr(0, 12);
  // Another program using the table's indexes holds the semaphore file:
  // then nothing is rebuilt in this open.
  CreateIndexMode mode = CreateIndex;
  bool suspended = false;
  const std::string semaphore = SemaphoreFileName(table);
  if (platform::FileExists(semaphore)) {
    platform::File probe;
    bool busy = false;
    if (probe.Open(semaphore, platform::kModeRead | platform::kShareDenyNone) == 0)
      busy = probe.IsRangeLockedByOther(18, 1);
    probe.Close();
    if (busy) {
      if (mode == CreateIndexMode::ciAlways || mode == CreateIndexMode::ciVerifyHeader) {
        mode = CreateIndexMode::ciNotFound;
        suspended = true;
      }
    } else if (!platform::IsSpecialFile(semaphore)) {
      // (A pipe or device of that name is nobody's semaphore file to
      // remove: the open below refuses it.)
      platform::DeleteFile(semaphore);
    }
  }
  ClearError();
  for (const std::string& line : IndexList) {
    const IndexItem item = ParseIndexLine(line);
    switch (mode) {
      case CreateIndexMode::ciNotFound:
      case CreateIndexMode::ciNever:
        if (suspended) {
          // A file whose anchor names another table is nobody's index of
          // this one (several tables share one index file name, and a
          // rebuild by another user of the folder replaced it): the other
          // user of this table does not use it, and opening it would walk
          // this table by another table's record numbers. It is built
          // anew; the other user keeps the file it has open.
          IndexOptions options;
          const IndexInfoRecord info = IndexInfo(TakeIndexOptions(item.File, options));
          const bool foreign =
              Engine().Errors.ErrorCode == 0 && info.Records >= 0 &&
              platform::AsciiUpper(platform::OemToAnsi(info.Table)).substr(0, 12) != tableName;
          ClearError();
          if (foreign) {
            Engine().Errors.ErrorCode = 2;
            break;
          }
        }
        OpenIndexFile(item.File, 1);
        break;
      case CreateIndexMode::ciAlways: Engine().Errors.ErrorCode = 2; break;
      case CreateIndexMode::ciVerifyHeader: {
        IndexOptions options;
        const std::string bare = TakeIndexOptions(item.File, options);
        const IndexInfoRecord info = IndexInfo(bare);
        const std::string path = platform::ResolveFileName(IndexFileName(bare, &table));
        std::int64_t dataTime = 0, indexTime = 0;
        platform::ModificationTime(table.OpenName, dataTime);
        platform::ModificationTime(path, indexTime);
        const std::string have =
            platform::AsciiUpper(platform::OemToAnsi(info.Table)).substr(0, 12);
        RefreshRecCount(table);
        if (Engine().Errors.ErrorCode == 0 && info.Records == table.RecCount && have == tableName &&
            dataTime <= indexTime) {
          OpenIndexFile(item.File, 1);
        } else {
          ClearError();
          Engine().Errors.ErrorCode = 2;
        }
        break;
      }
    }
    const int code = Engine().Errors.ErrorCode;
    if (mode != CreateIndexMode::ciNever &&
        (code == 2 || code == 222 || code == 223 || code == 266)) {
      ClearError();
      BuildIndex(item);
    }
    if (Engine().Errors.ErrorCode != 0) {
      reissue();
      return false;
    }
    CloseIndexes();
  }
  for (const std::string& line : IndexList) {
    const IndexItem item = ParseIndexLine(line);
    OpenIndexFile(item.File, item.Order);
    if (Engine().Errors.ErrorCode != 0) {
      const int code = Engine().Errors.ErrorCode;
      const std::string detail = TakeErrorDetail();
      CloseIndexes();
      Engine().Errors.ErrorCode = static_cast<std::uint16_t>(code);
      Engine().Errors.ErrorDetail = detail;
      reissue();
      return false;
    }
  }
  return true;
}

bool DbfTable::CreateTable() {
  if (DbfFields.empty()) {
    platform::ShowMessage("FieldList.Count is <= 0 trying to create a database");
    return false;
  }
  std::vector<FieldSpec> specs;
  for (const std::string& line : DbfFields) {
    if (std::count(line.begin(), line.end(), ',') != 3) return false;
    std::string parts[4];
    std::size_t pos = 0;
    for (int i = 0; i < 4; ++i) {
      const std::size_t end = line.find(',', pos);
      parts[i] = Trim(line.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
      pos = end + 1;
    }
    FieldSpec f;
    f.Name = parts[0].substr(0, 10);
    f.Type = parts[1].empty() ? ' ' : parts[1][0];
    f.Len = LenientInt(parts[2]);
    f.Dec = LenientInt(parts[3]);
    if (f.Type == 'X') continue;
    const bool known = std::string("CDFLMN").find(f.Type) != std::string::npos;
    if (!known || f.Len < 0 || f.Len > 255 || f.Dec < 0 || f.Dec > 255 ||
        (f.Type == 'N' && (f.Len > 19 || f.Dec > 15 || (f.Dec > 0 && f.Len < f.Dec + 2))) ||
        (f.Type == 'C' && f.Len == 255))
      throw std::range_error("Range check error");
    specs.push_back(f);
  }
  ScopedErrorDispatch quiet(false);
  CreateDbf(DbfFileName(), specs);
  return Engine().Errors.ErrorCode == 0;
}

// --- Write paths -----------------------------------------------------------------------------

bool DbfTable::WithLock(const char* label, bool fileLock, const LockFailedEvent& event,
                        const char* what, void (*operation)()) {
  if (!CanModify()) return false;
  for (;;) {
    SelectWorkArea(label);
    if (fileLock ? ALock() : RLock()) {
      operation();
      const bool ok = Engine().Errors.ErrorCode == 0;
      Unlock();
      return ok;
    }
    if (!event) {
      platform::ShowMessage(std::string("Lock failed [") + what + "]");
      return false;
    }
    bool retry = false;
    event(retry);
    if (!retry) return false;
  }
}

bool DbfTable::AppendWithLock() {
  return WithLock("s_AppendWithLock", true, OnALockFailedOnInsert, "Insert", [] { vz::Append(); });
}
bool DbfTable::DeleteWithLock() {
  return WithLock("s_DeleteWithLock", false, OnRLockFailedOnDelete, "Delete",
                  [] { vz::DeleteRec(); });
}
bool DbfTable::RestoreWithLock() {
  return WithLock("s_RestoreWithLock", false, OnRLockFailedOnRestore, "Restore",
                  [] { vz::RecallRec(); });
}
bool DbfTable::ReplaceWithLock() {
  return WithLock("s_ReplaceWithLock", false, OnRLockFailedOnPost, "Post", [] { vz::Replace(); });
}

// --- Searches and index operations -------------------------------------------------------------

bool DbfTable::Locate(const std::string& keyFields, const std::string& keyValues,
                      LocateOptions options) {
  SelectWorkArea("Locate");
  if (CurrentOrder() > 0) {
    const std::string key = keyValues.substr(0, 255);
    return options.PartialKey ? Find(key) : FindExact(key);
  }
  return TableDataSet::Locate(keyFields, keyValues, options);
}

bool DbfTable::Find(const std::string& key) {
  CheckBrowseMode();
  SelectWorkArea("Find");
  vz::Find(key.substr(0, 100));
  const bool found = IndexEngine().Settings.Found;
  ResyncFromEngine();
  return found;
}

bool DbfTable::FindExact(const std::string& key) {
  CheckBrowseMode();
  SelectWorkArea("FindExact");
  {
    ScopedSetting<bool> exact(IndexEngine().Settings.ExactFind, true);
    vz::Find(key.substr(0, 100));
  }
  const bool found = IndexEngine().Settings.Found;
  ResyncFromEngine();
  return found;
}

void DbfTable::IndexOn(const std::string& expression, const std::string& fileName) {
  SelectWorkArea("IndexOn");
  Index_On(fileName, expression);
  ResyncFromEngine();
}

void DbfTable::IndexOnCB(KeyMaker maker, const std::string& fileName) {
  SelectWorkArea("IndexOnCB");
  Index_On(fileName, std::move(maker));
  ResyncFromEngine();
}

void DbfTable::SetIndexTo(const std::string& files) {
  SelectWorkArea("SetIndexTo");
  Set_Index_To(files);
  ResyncFromEngine();
}

void DbfTable::SetIndexToCB(KeyMaker maker, const std::string& fileName, int order) {
  SelectWorkArea("SetIndexToCB");
  vz::SetIndexTo(fileName, std::move(maker), order);
  if (Active()) ResyncFromEngine();
}

void DbfTable::SetIndexToLFN(const std::string& fileName, int order) {
  SelectWorkArea("SetIndexToLFN");
  vz::SetIndexTo(fileName, nullptr, order);
  if (Active()) ResyncFromEngine();
}

// --- Memo streams ------------------------------------------------------------------------------

std::unique_ptr<data::Stream> DbfTable::CreateBlobStream(data::Field* field, data::BlobMode mode) {
  if (!Active()) {
    SetError(1103, "DataSet must be active. " + Name());
    return nullptr;
  }
  SelectWorkArea("CreateBlobStream");
  return std::make_unique<MemoStream>(field, this, mode);
}

}  // namespace vz
