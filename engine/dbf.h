// The table commands: what a caller may do with the work areas and the
// table open in the current one. Selecting an area, USE (open) and
// closing (work_areas.cpp); reading and unpacking records (record_codec.cpp);
// moving the record pointer (GO, SKIP, GoTop, GoBottom) over visible
// records, in index order when an index controls (navigation.cpp); reading
// fields from the unpacked (native) record (fields.cpp); writing records and
// locks (record_write.cpp); Locate and Continue (locate.cpp).
//
// Every table operation acts on the current work area and clears the error
// code on entry; on failure it reports through SetError and returns a
// neutral result.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/engine_context.h"

namespace vz {

// --- Work areas --------------------------------------------------------------

// 1 to 33 make that area current; 0 makes the lowest free area current.
void Select(int n);
int SelectedArea();
// Alias of the current area (empty when free).
std::string Alias();

// Opens a table into the current work area (closing what it held). The
// command is a file name with the options EXCLUSIVE and ALIAS name. A caller
// may supply the native buffer and its size (both or neither). An empty
// command only closes the area.
void USE(const std::string& command, std::uint8_t* buffer = nullptr, std::size_t size = 0);
void USE(const std::string& command, std::uint8_t* buffer, std::size_t size, RecordProc encode,
         RecordProc decode);

// Closes the current work area (indexes, memo file, table file, buffers).
void CloseArea();
// Closes areas 1 to 33 and makes 1 current.
void CloseAll();

// --- Records -------------------------------------------------------------------

// Reads record n into the area's raw buffer and decodes it (no unpacking).
bool GetDbfRecord(WorkArea& area, std::int64_t n);
// Unpacks the raw record into the native record. The unpacking may be put
// off until the native record is asked for through NativeRecord, as of the
// raw record's bytes now.
void Unpack(WorkArea& area);
// The native record, unpacked (null while the area has none).
std::uint8_t* NativeRecord(WorkArea& area);
// The same for a caller that keeps the address and reads the record there
// after later moves: from now on every move unpacks at once.
std::uint8_t* HandOutNative(WorkArea& area);
// Packs the native record back into the raw record (inverse of Unpack).
void Pack(WorkArea& area);
// True when the record in the raw buffer is visible (not hidden as deleted,
// not rejected by the filter).
bool PassesFilter(WorkArea& area);
inline bool IsVisible(WorkArea& area) {
  if (Engine().Settings.HideDeleted && area.RawRec[0] == '*') return false;
  return (!area.FilterProc && !area.FilterExpr) || PassesFilter(area);
}

void GO(std::int64_t n);
// GO without index, filter or message of its own; the second form calls
// the after-move procedure afterwards. Its messages name it "Dbf4RawGo",
// as they always have.
void RawGo(std::int64_t n);
void RawGo(std::int64_t n, bool callAfterMove);
void SKIP(std::int64_t n = 1);
void GoTop();
void GoBottom();
bool dEOF();
bool dBOF();
// Sets the BOF / EOF flag (and the index's, when an index controls).
void SetBOF(bool on);
void SetEOF(bool on);

std::int64_t RecCount();
std::int64_t RecNo();
std::uint32_t RecSize();
bool Deleted();

// --- Fields --------------------------------------------------------------------

int FieldCount();
char FieldType(int i);
int FieldLen(int i);
int FieldDec(int i);
std::string Field(int i);
// Address of field i's slot in the native record (0: the deleted flag).
std::uint8_t* FieldAddress(int i);
int FieldNo(const std::string& name);
void ClearRecord();
// The same on a given area, leaving the error state alone (moves use it).
void BlankNative(WorkArea& area);
bool IsWhileOn();
// The current area's while condition on its current record (true when the
// area has none).
bool WhileConditionHolds();
// Field i of record r straight from the file: no decoding, no character-set
// conversion, deleted or not (i = 0: the deletion flag).
std::string Peek(int i, std::int64_t r);
// The same bytes as a view into the table's read cache, valid until the
// next read of that table (the locate scan reads through it).
std::string_view PeekView(WorkArea& area, int i, std::int64_t r);

// The native forms (also used by the write paths and the expression engine).
double Real48ToDouble(const std::uint8_t* p);
// False when the value is too large for the format (the largest is stored).
bool DoubleToReal48(double v, std::uint8_t* p);
std::int32_t NativeInt(const std::uint8_t* p);
void SetNativeInt(std::uint8_t* p, std::int32_t v);

// --- Writing and locks --------------------------------------------------------
// Records are written with ANSI text converted back to OEM (on an OEM table)
// and run through the record-encode procedure; the buffers keep their
// readable form. Open indexes are kept up to date through the index hooks.

// Writes the native record over the record at the pointer.
void Replace();
// Appends the native record as a new last record (a shared table must be
// locked with ALock first).
void Append();
// Appends a blank record.
void AppendBlank();
// Marks the current record deleted / live again (locked first when shared).
void DeleteRec();
void RecallRec();
// Removes the records marked deleted from a table open exclusively (code
// 225 otherwise): the others close up in their order, the file is cut
// after them, and the open indexes are built anew. The pointer stands on
// the first record afterwards. Memo texts of removed records stay in the
// memo file, unreferenced.
void PACK();

// Locks: the whole file, or one record. In an exclusive area they always
// succeed. Lock regions lie beyond any real file size (from kLockBase), so
// readers are never held up.
inline constexpr std::uint64_t kLockBase = 1000000000ULL;
inline constexpr std::size_t kMaxRecordLocks = 1000;
bool ALock();
bool RLock(std::int64_t r);
bool RLock();  // the current record
bool IsLocked(std::int64_t r);
void UnlockRec(std::int64_t r);
void Unlock();

// Writes raw bytes into field i of record r (no conversion), through the
// read cache.
void Poke(int i, std::int64_t r, const std::string& bytes);

// --- Locate -------------------------------------------------------------------
// Scans in record-number order for the first record whose field matches the
// value; the field text may carry the options NOCASE, EXACT and CONTAINED.
// Found: the pointer stands on it. Not found: past the end (EOF).
bool Locate(const std::string& field, const std::string& value);
// Goes on from the record after the pointer with the last Locate's terms.
bool Continue();

// Lenient integer reading of field lists: see the implementation.
int LenientInt(const std::string& text);

// Installs or removes the per-area procedures.
void SetAfterMove(VoidProc proc);
void SetFilterProc(BoolProc proc);
void SetWhileProc(BoolProc proc);

// Calls the area's after-move procedure, as every positioning does.
void CallAfterMove(WorkArea& area);

}  // namespace vz
