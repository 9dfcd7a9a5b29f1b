// Replacing a table whole: the new .dbf and its memo file are made in a
// folder beside the table and put in place by rename, as one small
// journaled change that every open of the table finishes when it was cut
// short.
//
// The folder is ".NAME.import" beside the table NAME, held under an
// exclusive flock by the program that replaces the table (one replacement
// of a table at a time). In order, the replacement:
//   1. writes the new files into the folder under the table's own names
//      and flushes them;
//   2. keeps a second name of the old memo file in the folder
//      ("previous-" and the memo file's name), to put it back if the
//      table's rename fails;
//   3. writes the commit mark (the file "commit") and flushes the folder;
//   4. renames the memo file into place, then the table;
//   5. removes the kept old memo file, the mark and the folder.
// An open of the table that finds the folder and nobody holding its lock
// (the replacement died) finishes it: with the mark, the remaining renames
// are done (the new table); without it, the folder goes and the old table
// stays (its kept memo file goes back first when a failed rename had taken
// the mark back already). An open that finds a live replacement past its
// mark waits for it; it takes microseconds.
#pragma once

#include <string>

namespace vz {

// The folder in which a replacement of `table` (a .dbf path) is made.
std::string SwapFolderOf(const std::string& table);

// Finishes or takes back a replacement of `table` that was cut short.
// Returns 0 when the table in place is whole (also when there was nothing
// to do, the common case: one look-up of a name that is not there), or the
// engine's error code with `message` set when a replacement that had
// committed cannot be finished here (the folder cannot be written: the
// pair in place may not belong together) or a live one does not end.
int FinishCutSwap(const std::string& table, std::string& message);

// One replacement of a table. The new files are written to NewTable() (the
// engine makes the memo file beside it); Commit puts them in place. An
// object that dies before its Commit succeeded removes the folder and
// leaves the old table as it was.
class TableSwap {
 public:
  explicit TableSwap(std::string table);
  ~TableSwap();
  TableSwap(const TableSwap&) = delete;
  TableSwap& operator=(const TableSwap&) = delete;

  // Makes and locks the folder (after finishing a cut replacement). False
  // with `error` set when it cannot, or another replacement is under way.
  bool Begin(std::string& error);
  // Where the new table is to be made.
  const std::string& NewTable() const { return newTable_; }
  // Flushes the new files, gives them the old files' permissions and puts
  // them in place. False with `error` set and the old table in place.
  bool Commit(std::string& error);

 private:
  void Discard();

  std::string table_;
  std::string dir_;   // the table's folder, ending in a separator (or empty)
  std::string name_;  // the table's file name
  std::string folder_;
  std::string newTable_;
  int fd_ = -1;  // the folder, locked
};

}  // namespace vz
