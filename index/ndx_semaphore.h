// The semaphore file that lets several programs share a table's indexes,
// and the brackets of the shared-use protocol around reads and changes.
//
// The semaphore file beside the table (the table's name with the extension
// .@S@) holds, little-endian: "VZS1" at 0, the change counter at 4 and the
// number of logins at 8. Locks, all byte ranges of one byte:
//   16  the counters, taken exclusively while they are updated;
//   17  the indexes: shared by a reader that waits for a writer, exclusive
//       while a writer changes them (the counter is odd while a writer
//       works and even again when it is done);
//   18  presence: shared by every program logged in, so an exclusive probe
//       tells whether anybody else uses the table.
// Readers look at the counter at the start of every read (a nested read
// counts with the outermost one); a changed counter makes them re-read
// their anchors. No view of an index is trusted past that: a reader that
// went on with an anchor a few milliseconds old would walk another
// program's new nodes from its old root and node count.
#pragma once

#include <cstdint>
#include <string>

#include "engine/engine_context.h"
#include "engine/trim.h"
#include "engine/work_area.h"
#include "platform/files.h"

namespace vz {

struct AreaIndexes;

// The semaphore file that lets several programs share a table's indexes.
struct SemaphoreState {
  platform::File File;
  std::string Name;
  bool LoggedIn = false;
  int Reads = 0;  // nesting of INCREAD / DECREAD
  int Locks = 0;  // nesting of LOCKSEMAPHORE / UNLOCKSEMAPHORE
  std::uint32_t SeenCounter = 0;
  // The file's first bytes mapped, so that a look at the change counter
  // (at the start of every read) costs no system call.
  platform::FileMapping Map;
};

bool SharedUse(const WorkArea& table);
std::string SemaphoreFileName(const WorkArea& table);
// The steps of the semaphore protocol: taking part and leaving, the start
// and end of a read, the start and end of a change.
enum class SemaphoreAction { Login, Logout, IncRead, DecRead, Lock, Unlock };
// The action's name in messages ("INCREAD", "LOCKSEMAPHORE", ...).
const char* ActionName(SemaphoreAction action);
// Returns true when another program changed the indexes since this one last
// looked (IncRead and Lock only).
bool HandleSemaphore(WorkArea& table, AreaIndexes& a, SemaphoreAction step);

// Reads the anchors of the current area's indexes again (another program
// changed them) and forgets the cached nodes.
void ReReadAnchors(WorkArea& t);
// The start and end of a read of the current area's indexes in shared use.
// A read that finds the indexes changed reads the anchors again and finds
// the controlling index's place anew.
void BeginRead();
void EndRead();

// Brackets a change of the indexes in shared use.
struct WriteLock {
  WorkArea& t;
  bool held = false;
  explicit WriteLock(WorkArea& table);
  ~WriteLock();
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;
};

}  // namespace vz
