// The file-backed table component: how its indexes are built when
// opening, the open-file step, the write paths with their locks, index
// searches and operations, and its memo streams. DbfTable is the component
// the program places on its forms.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/dbt_file.h"
#include "engine/trim.h"
#include "index/indexes.h"
#include "platform/hooks.h"
#include "table/EngineStart.h"
#include "table/IndexBuildProgress.h"
#include "table/IndexList.h"
#include "table/MemoStream.h"
#include "table/TableDataSet.h"

namespace vz {

enum class CreateIndexMode { ciNotFound, ciAlways, ciVerifyHeader, ciNever };

using MakeIndexEvent = std::function<void(const std::string& name, bool& canMake)>;
using AfterMakeIndexEvent = std::function<void(const std::string& name)>;
using LockFailedEvent = std::function<void(bool& retry)>;

class MemoStream;

class DbfTable : public TableDataSet {
 public:
  ~DbfTable() override;

  // --- Properties ---
  bool AutoFixRecCount = false;
  CreateIndexMode CreateIndex = CreateIndexMode::ciNotFound;
  bool CreateIfNotFound = true;
  std::vector<std::string> IndexList;
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool on);
  MakeIndexEvent OnBeforeMakeIndex;
  AfterMakeIndexEvent OnAfterMakeIndex;
  LockFailedEvent OnALockFailedOnInsert, OnRLockFailedOnDelete, OnRLockFailedOnPost,
      OnRLockFailedOnRestore;

  // --- Searches and index operations ---
  bool Locate(const std::string& keyFields, const std::string& keyValues,
              LocateOptions options) override;
  bool Find(const std::string& key);
  bool FindExact(const std::string& key);
  virtual void IndexOn(const std::string& expression, const std::string& fileName);
  virtual void IndexOnCB(KeyMaker maker, const std::string& fileName);
  virtual void SetIndexTo(const std::string& files);
  virtual void SetIndexToCB(KeyMaker maker, const std::string& fileName, int order);
  virtual void SetIndexToLFN(const std::string& fileName, int order);

  std::unique_ptr<data::Stream> CreateBlobStream(data::Field* field, data::BlobMode mode) override;

 protected:
  bool OpenFileStep(const std::string& name) override;
  bool AppendWithLock() override;
  bool DeleteWithLock() override;
  bool RestoreWithLock() override;
  bool ReplaceWithLock() override;

 private:
  bool OpenIndexes();
  bool CreateTable();
  bool BuildIndex(const IndexItem& item);
  bool WithLock(const char* label, bool fileLock, const LockFailedEvent& event, const char* what,
                void (*operation)());
  bool exclusive_ = false;
};

}  // namespace vz
