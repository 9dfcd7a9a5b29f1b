// Walks shared by the targets: the open table read record by record with
// every field taken from the native buffer, the moves in both directions,
// and the table component over the same files.
#pragma once

#include <string>

#include "dataset/Fields.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "fuzz/FuzzSupport.h"
#include "table/TableDataSet.h"

namespace vz::fuzz {

// Runs f; an engine error (raised as EngineError), a framework error or a
// halt stops only this step. Any other exception goes on to the fuzzer.
template <typename F>
void Try(F&& f) {
  try {
    f();
  } catch (const EngineError&) {
  } catch (const data::DatabaseError&) {
  } catch (const AbortError&) {
  } catch (const Halted&) {
  }
}

// The longest walk of one direction: damaged tables may claim billions of
// records, and a damaged index may list a record many times. Records past
// the first few dozen take the same paths as those before them (a table's
// read buffers and an index's leaves are passed within 32 steps), and each
// step costs the whole run time.
inline constexpr int kMaxSteps = 32;

// The same for the table component, whose every move fills its record
// buffers (five records) again.
inline constexpr int kMaxComponentSteps = 16;

// Reads every field of the current record of the current work area: the
// field functions, each slot of the native buffer as its type says, and
// (with peek) Peek of the record's bytes.
void ReadCurrentRecord(bool peek = false);

// The parts of a walk. A target lets each input choose one part (or all of
// them) by bits the engine does not read: each run stays short, and the
// mutations of an input reach the other parts.
enum WalkPart : unsigned {
  kWalkForward = 1,   // the first record to the last
  kWalkBackward = 2,  // the last record to the first
  kWalkJumps = 4,     // moves to the ends and past them, longer steps, searches
  kWalkAll = 7,
};

// The part of a walk that two input bits (0 to 3) choose: forward,
// backward, jumps, or all three.
inline unsigned WalkParts(unsigned bits) {
  static constexpr unsigned kChoice[4] = {kWalkForward, kWalkBackward, kWalkJumps, kWalkAll};
  return kChoice[bits & 3];
}

// The engine walk over the table of the current work area: record
// functions; forward: (full) GetDbfRecord, Unpack and Peek for each record,
// then GoTop with SKIP(1) to the end; backward: GoBottom with SKIP(-1) to
// the start; jumps: GO around the ends, SKIP by more than one, and the
// locate scan.
void WalkTable(bool full = true, unsigned parts = kWalkAll);

// What the table component shows of a table opened as the reader opens its
// catalogue; indexLine empty: no index.
struct ComponentOptions {
  std::string indexLine;
  bool hideDeleted = true;
  bool ansi = false;
  bool readMemos = true;
  unsigned parts =
      kWalkAll;  // forward: First..Next; backward: Last..Prior; jumps: the search box, MoveBy
};
void WalkComponent(const std::string& dbfPath, const ComponentOptions& options);

}  // namespace vz::fuzz
