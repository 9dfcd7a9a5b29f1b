// A work area: one open table with its field list, its record buffers
// (raw as stored, native as unpacked), its per-area procedures and what the
// other units keep per table, and the read caches. The 33 slots live in the
// engine context (engine_context.h).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/files.h"

namespace vz {

inline constexpr int kMaxAreas = 33;
// A memo block number whose text does not fit 32 bits unpacks to this value
// (the memo unit reports it as an invalid memo address).
inline constexpr std::int32_t kMemoOutOfRange = INT32_MIN;

// One field of a table, in descriptor order.
struct FieldDesc {
  std::string Name;  // as stored, at most 10 characters
  char Type = 'C';
  std::uint8_t Len = 0;
  std::uint8_t Dec = 0;
  std::uint32_t Offset = 0;        // inside the raw record; the first field is at 1
  std::uint32_t NativeOffset = 0;  // of its slot in the native record
  std::uint32_t NativeSize = 0;
};

// Size of a field's slot in the native (unpacked) record.
std::uint32_t NativeSlotSize(const FieldDesc& f);

// Data that another unit keeps per work area (memo file, locks, ...).
struct AreaExtension {
  virtual ~AreaExtension() = default;
};

using RecordProc = std::function<void(std::uint8_t* bytes, std::size_t count)>;
using BoolProc = std::function<bool()>;
using VoidProc = std::function<void()>;

// A compiled expression held by a work area (filter, while); its evaluator
// comes through EvaluatorHooks.
struct AreaExpression {
  virtual ~AreaExpression() = default;
};

// A window of a table file read in one large block; Peek and Poke share it.
// It belongs to one open table and is dropped whenever the record count is
// refreshed, so records that other programs write show on the next refresh.
struct ReadCache {
  std::vector<std::uint8_t> Data;
  std::uint64_t Start = 0;
  std::size_t Len = 0;
  std::int64_t FilledAtNs = 0;  // monotonic clock
  void Drop() { Len = 0; }
};

// Records kept from earlier reads, in blocks of whole records. A block
// serves while the file is unchanged since it was read (see
// ReadRecordBytes); at most kMaxBytes are kept, the oldest block going first.
struct RecordBlockCache {
  static constexpr std::size_t kBlockBytes = 16 * 1024;
  static constexpr std::size_t kMaxBytes = 64 * 1024 * 1024;
  struct Slot {
    std::uint64_t Block = 0;
    std::uint64_t Generation = 0;
    std::size_t Len = 0;  // bytes read
  };
  std::vector<std::uint8_t> Data;
  std::vector<Slot> Slots;
  std::unordered_map<std::uint64_t, std::uint32_t> Where;
  std::uint32_t NextVictim = 0;
  std::size_t RecordsPerBlock = 1;
  void Clear() { *this = RecordBlockCache{}; }
};

// The file layout a table was read in.
enum class DbfLayout : std::uint8_t { Current, Old };

// One open table.
struct WorkArea {
  WorkArea();
  ~WorkArea();
  WorkArea(const WorkArea&) = delete;
  WorkArea& operator=(const WorkArea&) = delete;

  // Full, expanded, upper-cased path with extension: used to compare tables
  // and in messages.
  std::string FileName;
  // The same path in the caller's spelling: used to open and delete files.
  std::string OpenName;
  std::uint8_t Header[32] = {};
  DbfLayout Layout = DbfLayout::Current;
  bool Memo = false;
  std::uint32_t HeaderLen = 0;
  std::uint32_t RecordLen = 0;
  int FieldCount = 0;
  std::vector<FieldDesc> Fields;
  std::uint8_t State = 0;  // 0 closed, 1 open, 2 records changed, 3 appended
  std::vector<std::uint8_t> RawRec;
  std::int64_t RecCount = 0;
  std::int64_t RecNo = 0;
  bool Eof = false;
  bool Bof = false;
  int FileMode = 0;
  bool Oem = true;
  RecordProc Encode;
  RecordProc Decode;
  platform::File File;

  // The unpacked record: read and written through NativeRecord(), which
  // first does an unpacking that a move put off.
  std::uint8_t* NativeBuffer = nullptr;
  std::size_t NativeSize = 0;
  bool OwnsNative = false;
  std::vector<std::uint8_t> OwnedNative;
  // A move puts off unpacking the record it read, so that a walk that reads
  // no field does not unpack: the record's bytes wait here until a field is
  // asked for. Unpacked at once instead while the buffer is the caller's or
  // its address was handed out (the caller reads it directly after every
  // move), or when a field's unpacked form depends on settings (dates).
  std::vector<std::uint8_t> PendingRaw;
  bool UnpackPending = false;
  bool UnpackAtOnce = false;
  std::vector<std::uint8_t> Swap;

  BoolProc FilterProc;
  std::unique_ptr<AreaExpression> FilterExpr;
  BoolProc WhileProc;
  std::unique_ptr<AreaExpression> WhileExpr;
  VoidProc AfterMove;

  std::string Alias;
  bool Exclusive = false;

  // Units that keep state per open table.
  std::unique_ptr<AreaExtension> MemoData;
  bool FileLocked = false;
  std::vector<std::int64_t> RecordLocks;
  ReadCache Cache;          // large blocks for scans (Peek)
  RecordBlockCache Blocks;  // records read before
  // The table file mapped for reads (ReadRecordBytes, PeekView): records
  // are copied out of it with no system call. When a mapping cannot be
  // made, the reads go through the caches above; it is tried again when
  // the file's size has changed.
  platform::FileMapping Map;
  std::uint64_t MapRefusedSize = UINT64_MAX;
  std::vector<std::uint8_t> PeekBytes;  // what PeekView hands out from the mapping
  std::uint64_t Generation = 1;         // changes whenever the file may have changed
  // What the last look at the file saw (shared tables).
  std::int64_t CheckedAtNs = 0;       // for the record count
  std::int64_t CacheCheckedAtNs = 0;  // for cached records
  std::uint64_t KnownSize = 0;
  std::int64_t KnownMtimeNs = 0;
};

// The 33 work-area slots and the current one.
struct WorkAreaTable {
  std::array<std::unique_ptr<WorkArea>, kMaxAreas + 1> Slot;  // [0] unused
  int Current = 1;
};

}  // namespace vz
