// Building an NDX index bottom-up: the table's keys are sorted in runs (in
// memory, spilled to a temporary file when there are several), the runs
// merged in a tournament, and the nodes written level by level.
#pragma once

#include <functional>
#include <string>

#include "index/ndx_format.h"

namespace vz {

struct BuildOptions {
  std::string Expression;  // or empty with a KeyMaker
  KeyMaker Maker;
  bool Unique = false;
  bool Descending = false;
  bool Soundex = false;
};
// Progress of a build: called at most Steps times.
struct BuildProgress {
  std::function<void()> Step;
  int Steps = 0;
};

// Builds an index on the current table (the file is made anew; a build that
// fails removes it). The error is stored and dispatched.
void MakeIndex(const std::string& fileName, const BuildOptions& options);

}  // namespace vz
