// Work areas and the table operations on the current one: selecting an
// area, USE (open) and closing, moving the record pointer (GO, SKIP, GoTop,
// GoBottom) over visible records, in index order when an index controls,
// and reading fields from the unpacked (native) record.
//
// Every table operation acts on the current work area and clears the error
// code on entry; on failure it reports through SetError and returns a
// neutral result.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/TZCommon.h"

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
// Unpacks the raw record into the native record.
void Unpack(WorkArea& area);
// Packs the native record back into the raw record (inverse of Unpack).
void Pack(WorkArea& area);
// True when the record in the raw buffer is visible (not hidden as deleted,
// not rejected by the filter).
bool IsVisible(WorkArea& area);

void GO(std::int64_t n);
// GO without index, filter or message of its own; the second form calls
// the after-move procedure afterwards.
void Dbf4RawGo(std::int64_t n);
void Dbf4RawGo(std::int64_t n, bool callAfterMove);
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
bool IsWhileOn();
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
// A memo block number whose text does not fit 32 bits unpacks to this value.
inline constexpr std::int32_t kMemoOutOfRange = INT32_MIN;

// Lenient integer reading of field lists: see the implementation.
int LenientInt(const std::string& text);

// Installs or removes the per-area procedures.
void SetAfterMove(VoidProc proc);
void SetFilterProc(BoolProc proc);
void SetWhileProc(BoolProc proc);

// Calls the area's after-move procedure, as every positioning does.
void CallAfterMove(WorkArea& area);

}  // namespace vz
