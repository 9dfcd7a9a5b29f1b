// NDX indexes of a work area: opening (SetIndexTo, Set_Index_To),
// closing, reading an anchor without opening (IndexInfo), building
// (Index_On, Reindex), moving in key order (FindFirstRecord ...), searching
// (Find), keeping the index in step with the table (SyncIndex,
// StoreCurrentKeys), choosing the controlling order, and keeping the
// indexes up to date when records are appended or changed.
//
// All operations act on the current work area. Errors are reported through
// the engine's dispatcher, except where a procedure leaves them for its
// caller (SetIndexTo, Set_Order_To and the moves the storage engine makes
// through its hooks).
#pragma once

#include <cstdint>
#include <string>

#include "index/index_state.h"

namespace vz {

// What an anchor says, read without opening the index.
struct IndexInfoRecord {
  std::string Expression;
  int KeyLength = 0;
  char KeyType = ' ';
  bool Unique = false;
  std::string Table;          // empty when the record-count check fails
  std::int64_t Records = -1;  // -1 when the record-count check fails
};
IndexInfoRecord IndexInfo(const std::string& name);

// Opens an index (with the option words UNIQUE, NOCACHE, SOUNDEX,
// DESCENDING) into an order of the current work area. A failure is left in
// the error state for the caller to test; it is not dispatched.
void SetIndexTo(const std::string& name, KeyMaker maker = nullptr, int order = 1);
// Closes the area's indexes and opens a blank-separated list as orders 1, 2 ...
void Set_Index_To(const std::string& names);
void CloseIndex(int order);
// Closes every index of the current work area.
void CloseIndexes();

// Builds an index on the current table and opens it as order 1.
void Index_On(const std::string& name, const std::string& expression);
void Index_On(const std::string& name, KeyMaker maker);
// Rebuilds every open index of the current work area.
void Reindex();

// The moves of the controlling index: the record of its first, last, next
// and prior entry (0 when there is none). A failure is dispatched as an
// engine error, and the move delivers no record.
std::int64_t FindFirstRecord();
std::int64_t FindLastRecord();
std::int64_t FindNextRecord();
std::int64_t FindPriorRecord();
// Searches the controlling index; true when found (the table stands on the
// record), false otherwise (the table stands past its end).
bool Find(const std::string& key);
void SyncIndex();
void SoftSyncIndex();
void StoreCurrentKeys();
void Set_Order_To(int order);
int CurrentOrder();

// Write paths: the keys of a newly appended record, and of a changed one.
void InsertAppendedKeys();
void UpdateChangedKeys();

// File names: the default extension and the table's directory.
std::string IndexFileName(const std::string& name, const WorkArea* table);
// True when two names reach one file: the same name without regard to
// ASCII letter case, or another spelling of it (relative, through a link).
bool SameFile(const std::string& a, const std::string& b);
// Takes the option words UNIQUE, NOCACHE, SOUNDEX, DESCENDING out of a name.
struct IndexOptions {
  bool Unique = false, NoCache = false, Soundex = false, Descending = false;
};
std::string TakeIndexOptions(const std::string& text, IndexOptions& options);

// Fills the storage engine's index hooks.
void InstallIndexHooks();

// Starts the whole engine as a program does once before its first table:
// the date format from the user's language, the memo hooks, the
// evaluator's hook and the index hooks.
void InitEngine();

}  // namespace vz
