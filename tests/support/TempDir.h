// A fresh folder for one test, removed with everything in it afterwards;
// optionally the current directory while the object lives.
#pragma once

#include <string>

namespace vz::test {

class TempDir {
 public:
  explicit TempDir(bool enter = false);
  // A folder inside `parent` instead of $TMPDIR (or /tmp).
  explicit TempDir(const std::string& parent);
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  std::string previous_;
};

// Puts the engine context back to its initial state (Engine().Reset(): no
// table is closed properly, every area is dropped, no unit is installed)
// and sets the default tests expect: errors raised as exceptions.
void ResetEngineForTest();

// Runs a command line and returns its exit status; stdout and stderr are
// captured into the strings.
int RunCommand(const std::string& command, std::string* out = nullptr, std::string* err = nullptr);

}  // namespace vz::test
