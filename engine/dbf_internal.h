// What the command files of the table engine (work_areas, record_codec,
// navigation, fields, record_write, locate) share. Not for callers: they
// use dbf.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/dbf.h"

namespace vz {

// The current area's table; null, with code 215 naming the operation, when
// the area is free.
WorkArea* NoTable(const char* op);
inline WorkArea* NeedTable(const char* op) {
  WorkArea* a = CurrentTable();
  return a ? a : NoTable(op);
}

// A letter, digit, underscore or backslash: a character that continues an
// option word.
bool IsWordChar(char c);

// The text in double quotes (messages).
std::string Quoted(const std::string& s);

// The current area has a controlling index.
bool IndexActive();

// Takes (true) or gives up (false) the index semaphore of the current area,
// when the index layer is there.
void IndexSemaphore(bool begin);

// Reads and unpacks record n; false when the read failed.
bool ReadUnpack(WorkArea& area, std::int64_t n);

// ReadUnpack with a failure stored only: a move first closes the index
// semaphore, then dispatches the error (DispatchPending).
bool ReadUnpackStored(WorkArea& area, std::int64_t n);

// The area's while condition on its current record (true without one).
bool WhileHolds(WorkArea& area);

// Parses an integer the way field texts are read: optional sign and digits;
// false for anything else. Values beyond 32 bits are clamped.
bool ParseInt32(std::string_view s, std::int32_t& out);

// Parses a number as a whole text (an optional leading "+"); false for
// anything else.
bool ParseDouble(std::string_view s, double& out);

}  // namespace vz
