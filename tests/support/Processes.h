// Other programs at work beside a test: an index build killed in its
// middle, and a second program that appends cheats to a shared table.
#pragma once

#include <string>
#include <vector>

namespace vz::test {

// What a killed build left behind.
struct KilledBuild {
  bool killed = false;       // the build was still running and died by SIGKILL
  std::string problem;       // why not, when it was not
  long long sizeAtKill = 0;  // bytes of the index file when it was killed
};

// Runs `vorza-dbf index TABLE EXPR NDX --progress` and kills it with SIGKILL
// while it is in the middle of writing NDX: its progress report goes into a
// pipe of one page that is filled up to the report of `percent` per cent, so
// the build stops there by itself (its next report cannot be written) until
// the kill. The build's sort file goes to `tempDir`.
KilledBuild KillIndexBuild(const std::string& table, const std::string& expression,
                           const std::string& ndx, int percent, const std::string& tempDir);

// The same for any command of vorza-dbf that reports its progress with
// --progress ("N%" lines on standard error): runs `vorza-dbf ARGS` and
// kills it when it waits to report `percent` + 1 per cent. With `percent`
// 100 nothing holds it back after its last report: it is killed as soon as
// that report is seen, wherever it then is, and may have ended by itself
// (then `killed` is false and `problem` empty).
// `watched` is the file whose size is taken at the kill.
KilledBuild KillAtProgress(const std::vector<std::string>& args, int percent,
                           const std::string& tempDir, const std::string& watched);

// Runs the test program that appends cheats ("NAME=TEXT" each) to a shared
// table through its index. Returns its exit status; `err` gets what it
// wrote to standard error.
int AppendCheats(const std::string& table, const std::string& ndx,
                 const std::vector<std::string>& cheats, std::string* err = nullptr);

// A second reader of a catalogue in a process of its own (the test program
// vorza-test-reader: the reader's table component driven by commands).
class SecondReader {
 public:
  SecondReader();
  ~SecondReader();  // ends the process if it still runs
  SecondReader(const SecondReader&) = delete;
  SecondReader& operator=(const SecondReader&) = delete;

  // Sends one command line and returns the answer line; empty when the
  // process ended (see Status()).
  std::string Ask(const std::string& command);
  // Opens a table, then its names in name order.
  bool Open(const std::string& table) { return Ask("open " + table) == "ok"; }
  std::vector<std::string> Names();
  std::string Locate(const std::string& text) { return Ask("locate " + text); }
  // File/Exit: closes the table, deletes cheat.ndx and ends.
  bool Exit();
  // Ends it as a crash would (SIGKILL) and waits for it.
  void Kill();
  // Waits for the process's end: its exit status, or 128 + the signal.
  int Status();
  bool Running();

 private:
  int pid_ = -1;
  int in_ = -1;   // its standard input
  int out_ = -1;  // its standard output
  int status_ = -1;
  std::string pending_;
};

// Another program holding a file exclusively (as an exclusive open of the
// engine does: a whole-file lock) until the object dies.
class ExclusiveHolder {
 public:
  explicit ExclusiveHolder(const std::string& path);
  ~ExclusiveHolder();
  ExclusiveHolder(const ExclusiveHolder&) = delete;
  ExclusiveHolder& operator=(const ExclusiveHolder&) = delete;
  bool holding() const { return holding_; }

 private:
  int pid_ = -1;
  int release_ = -1;
  bool holding_ = false;
};

// A 64-bit FNV-1a hash of a file's bytes and its modification time, to show
// that a file was neither written nor touched.
struct FileStamp {
  bool exists = false;
  unsigned long long hash = 0;
  long long size = 0;
  long long mtimeNs = 0;
  bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const std::string& path);
std::string Describe(const FileStamp& s);

}  // namespace vz::test
