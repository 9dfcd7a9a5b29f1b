// Walks shared by the targets: the open table read record by record with
// every field taken from the native buffer, the moves in both directions,
// and the table component over the same files.
#pragma once

#include <string>

#include "dataset/Fields.h"
#include "engine/tzmsg.h"
#include "fuzz/FuzzSupport.h"
#include "table/UCommon.h"

namespace vz::fuzz {

// Runs f; an engine error (raised as EZavodError), a framework error or a
// halt stops only this step. Any other exception goes on to the fuzzer.
template <typename F>
void Try(F&& f) {
  try {
    f();
  } catch (const EZavodError&) {
  } catch (const data::EDatabaseError&) {
  } catch (const EAbort&) {
  } catch (const Halted&) {
  }
}

// The longest walk of one direction: damaged tables may claim billions of
// records, and a damaged index may list a record many times. Records past
// the first few dozen take the same paths as those before them, and each
// step costs the whole run time.
inline constexpr int kMaxSteps = 64;

// Reads every field of the current record of the current work area: the
// field functions, each slot of the native buffer as its type says, and
// (with peek) Peek of the record's bytes.
void ReadCurrentRecord(bool peek = false);

// The engine walk over the table of the current work area: record
// functions, (full) GetDbfRecord, Unpack and Peek for each record, GoTop
// with SKIP(1) to the end, GoBottom with SKIP(-1) to the start, GO around
// the ends, SKIP by more than one, and the locate scan.
void WalkTable(bool full = true);

// What the table component shows of a table opened as the reader opens its
// catalogue; indexLine empty: no index.
struct ComponentOptions {
  std::string indexLine;
  bool hideDeleted = true;
  bool ansi = false;
  bool readMemos = true;
};
void WalkComponent(const std::string& dbfPath, const ComponentOptions& options);

}  // namespace vz::fuzz
