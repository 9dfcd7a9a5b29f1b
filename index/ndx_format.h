// The NDX index file: its anchor and node layouts, and the descriptor of an
// open index.
//
// An NDX file is a B-tree of 512-byte blocks, little-endian throughout.
// Block 0 is the anchor:
//   offset  size  meaning
//        0     4  root node
//        4     4  next free node (the file's length in blocks)
//        9     1  key type letter: C, N, F or D (some programs leave it 0)
//       12     2  key length (1 to 100; 8 for numbers and dates)
//       14     2  keys per node (504 / entry size when built here)
//       16     2  key type code: 0 character, 1 numeric or date
//       18     2  entry size: 8 + the key length rounded up to 4
//       23     1  unique flag
//       24   100  the normalised key expression (or kKeyMakerMarker)
//      488     4  the complement of the table's record count
//      492     4  the table's record count
//      496    12  the table's file name
// Node n lies at n x 512:
//        0     2  entry count
//        2     2  modified mark (clear on disk)
//        4     *  entries of entry-size bytes: child node (4), record number
//                 (4), key; in an interior node the right-most child follows
//                 the last entry.
// A node whose first child is 0 is a leaf. Character keys are padded with
// blanks to the key length; numeric and date keys are 8-byte doubles.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine_context.h"
#include "engine/trim.h"
#include "engine/work_area.h"
#include "index/expr.h"
#include "platform/files.h"

namespace vz {

// Little-endian numbers in the index and semaphore files.
inline std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline void PutU16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline constexpr std::size_t kNodeSize = 512;
// Deepest descent accepted; a deeper one means a damaged file.
inline constexpr std::size_t kMaxDepth = 48;
inline constexpr const char* kKeyMakerMarker = "User defined KeyMaker was used to build this index";

// A caller's key function (an index driven by code instead of an expression).
using KeyMaker = std::function<std::string()>;

// The 24 bytes of the anchor that are kept in memory.
struct NdxAnchor {
  std::uint8_t Raw[24] = {};
  std::int32_t Root() const { return static_cast<std::int32_t>(U32(Raw)); }
  void SetRoot(std::int32_t n) { PutU32(Raw, static_cast<std::uint32_t>(n)); }
  std::int32_t NextFree() const { return static_cast<std::int32_t>(U32(Raw + 4)); }
  void SetNextFree(std::int32_t n) { PutU32(Raw + 4, static_cast<std::uint32_t>(n)); }
  char TypeLetter() const { return static_cast<char>(Raw[9]); }
  void SetTypeLetter(char c) { Raw[9] = static_cast<std::uint8_t>(c); }
  int KeyLen() const { return static_cast<std::int16_t>(U16(Raw + 12)); }
  void SetKeyLen(int n) { PutU16(Raw + 12, static_cast<std::uint32_t>(n)); }
  int KeysPerNode() const { return U16(Raw + 14); }
  void SetKeysPerNode(int n) { PutU16(Raw + 14, static_cast<std::uint32_t>(n)); }
  int TypeCode() const { return U16(Raw + 16); }
  void SetTypeCode(int n) { PutU16(Raw + 16, static_cast<std::uint32_t>(n)); }
  int EntrySize() const { return U16(Raw + 18); }
  void SetEntrySize(int n) { PutU16(Raw + 18, static_cast<std::uint32_t>(n)); }
  bool Unique() const { return Raw[23] != 0; }
  void SetUnique(bool u) { Raw[23] = u ? 1 : 0; }
};

// One level of a descent: the node, its image, and the entry taken there
// (in an interior node, count means the right-most child).
struct PathLevel {
  std::int32_t Node = 0;
  std::array<std::uint8_t, kNodeSize> Image{};
  int Entry = 0;
};

// An open index (one per order of a work area).
struct NdxFile {
  platform::File File;
  std::string Name;      // upper-cased, for messages and comparisons
  std::string OpenName;  // the caller's spelling
  int Area = 0;
  int Order = 0;
  bool ExprIndex = true;
  NdxAnchor Anchor;
  std::string Expression;  // ANSI
  bool CharKey = true;
  bool AnchorChanged = false;
  bool Bof = false, Eof = false;
  bool Soundex = false, Descending = false, NoCache = false;
  KeyMaker Maker;
  CompiledExpr* Expr = nullptr;
  std::string CurKey;           // key of the current record
  std::uint64_t KeyMove = 0;    // the area's KeysMoved when CurKey was worked out
  std::vector<PathLevel> Path;  // root first; the last level is the current leaf
  // Where a step to the next leaf started (node and entry of each level),
  // to put the path back when the step meets the end; reused from step to
  // step.
  std::vector<std::pair<std::int32_t, int>> StepStart;
  std::uint64_t Blocks = 0;  // blocks the file holds (next free, corrected)
  bool Positioned = false;   // a current node exists
  // Guard against damaged files whose nodes are shared by several parents:
  // a walk in one direction meets every leaf once at most. A leaf met in
  // the present walk holds the walk's stamp, indexed by node number.
  std::vector<std::uint32_t> LeafStamps;
  std::uint32_t RunStamp = 0;
  int RunDirection = 0;
  // The file mapped for node reads (mapped again when it grew; the size at
  // which mapping failed, so that it is tried again only at another size).
  platform::FileMapping Map;
  std::uint64_t MapRefusedSize = UINT64_MAX;
  ~NdxFile();
};

// --- Nodes ---
inline int NodeCount(const std::uint8_t* image) {
  return U16(image);
}
inline std::uint8_t* EntryAt(const NdxFile& x, std::uint8_t* image, int i) {
  return image + 4 + static_cast<std::size_t>(i) * static_cast<std::size_t>(x.Anchor.EntrySize());
}
inline const std::uint8_t* EntryAt(const NdxFile& x, const std::uint8_t* image, int i) {
  return image + 4 + static_cast<std::size_t>(i) * static_cast<std::size_t>(x.Anchor.EntrySize());
}
inline std::int32_t EntryChild(const std::uint8_t* entry) {
  return static_cast<std::int32_t>(U32(entry));
}
inline std::int32_t EntryRecord(const std::uint8_t* entry) {
  return static_cast<std::int32_t>(U32(entry + 4));
}
inline std::int32_t RightChild(const NdxFile& x, const std::uint8_t* image) {
  return static_cast<std::int32_t>(U32(EntryAt(x, image, NodeCount(image))));
}
// A node whose first child is 0 (or that holds no entry) is a leaf.
inline bool IsLeaf(const std::uint8_t* image) {
  return NodeCount(image) == 0 || U32(image + 4) == 0;
}

// --- Anchor ---
// Writes the anchor block: the anchor, the key expression and the table's
// record count and name.
void WriteAnchor(NdxFile& x, WorkArea& table);
// Reads the anchor again from the file (another program may have changed
// it); the path of the current descent is dropped.
void ReadAnchor(NdxFile& x);

}  // namespace vz
