// The file-backed table component: its index list and how indexes are
// built when opening, the open-file step, the write paths with their locks,
// index searches and operations, and memo streams. TTzDbf is the component
// the program places on its forms.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/Memo.h"
#include "index/tzndxlow.h"
#include "platform/hooks.h"
#include "table/UTzCDS.h"

namespace vz {

enum class TCreateIndexType { ciNotFound, ciAlways, ciVerifyHeader, ciNever };

// One line of IndexList: "order,file,expression".
struct TIndexItem {
  int Order = 0;
  std::string File;
  std::string Expression;  // at most 100 characters
};
// Parses a line; throws data::EDatabaseError for an order that is not an
// integer.
TIndexItem ParseIndexLine(const std::string& line);

// The progress window of an index build: a status window whose text starts
// as 100 "|" and loses one with every step.
class TTzProgress100 {
 public:
  explicit TTzProgress100(const std::string& caption);
  void Step();
  const std::string& Text() const { return text_; }

 private:
  std::unique_ptr<platform::StatusWindow> window_;
  std::string text_;
};

using MakeIndexEvent = std::function<void(const std::string& name, bool& canMake)>;
using AfterMakeIndexEvent = std::function<void(const std::string& name)>;
using LockFailedEvent = std::function<void(bool& retry)>;

class TTzFileDataSet : public TTzCDataSet {
 public:
  ~TTzFileDataSet() override;

  // --- Properties ---
  bool AutoFixRecCount = false;
  TCreateIndexType CreateIndex = TCreateIndexType::ciNotFound;
  bool CreateIfNotFound = true;
  std::vector<std::string> IndexList;
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool on);
  MakeIndexEvent OnBeforeMakeIndex;
  AfterMakeIndexEvent OnAfterMakeIndex;
  LockFailedEvent OnALockFailedOnInsert, OnRLockFailedOnDelete, OnRLockFailedOnPost,
      OnRLockFailedOnRestore;

  // --- Searches and index operations ---
  bool Locate(const std::string& keyFields, const std::string& keyValues, LocateOptions options) override;
  bool Find(const std::string& key);
  bool FindExact(const std::string& key);
  virtual void IndexOn(const std::string& expression, const std::string& fileName);
  virtual void IndexOnCB(KeyMaker maker, const std::string& fileName);
  virtual void SetIndexTo(const std::string& files);
  virtual void SetIndexToCB(KeyMaker maker, const std::string& fileName, int order);
  virtual void SetIndexToLFN(const std::string& fileName, int order);

  std::unique_ptr<data::TStream> CreateBlobStream(data::TField* field, data::BlobMode mode) override;

 protected:
  bool OpenFileStep(const std::string& name) override;
  bool AppendWithLock() override;
  bool DeleteWithLock() override;
  bool RestoreWithLock() override;
  bool ReplaceWithLock() override;

 private:
  bool OpenIndexes();
  bool CreateTable();
  bool BuildIndex(const TIndexItem& item);
  bool WithLock(const char* label, bool fileLock, const LockFailedEvent& event, const char* what,
                void (*operation)());
  bool exclusive_ = false;
};

class TTzDbf : public TTzFileDataSet {};

// What an engine error that nobody handles does in a program.
enum class HaltingErrors {
  Reported,   // raised to the caller as EZavodError (the library's default)
  Presented,  // presented in a "Program halted." message, then the program
              // ends with the error's code as its exit status
};

// Starts the engine for a program built on the table components, once
// before its first table: the engine's units join in (InitEngine) and
// halting errors are handled as asked.
void StartEngine(HaltingErrors halting);

// The folder of the indexes' semaphore files: empty (the start) keeps each
// beside its index; a program whose indexes live elsewhere than its tables
// (a folder it cannot write) names that folder.
void SetIndexSemaphoreFolder(const std::string& folder);

// A memo field's text as a stream, through the memo unit's blob descriptor.
class TTzBlobStream : public data::TStream {
 public:
  TTzBlobStream(data::TField* field, TTzFileDataSet* table, data::BlobMode mode);
  ~TTzBlobStream() override;
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, int origin) override;
  data::BlobMode Mode() const { return mode_; }

 private:
  data::TField* field_;
  TTzFileDataSet* table_;
  bool modified_ = false;
  data::BlobMode mode_ = data::BlobMode::Read;
  bool described_ = false;
  std::int32_t block_ = 0;
  // The stream's own: a control that shows the field while this stream
  // writes it reads through a descriptor of its own and cannot end this one.
  BlobDescriptor blob_;
};

}  // namespace vz
