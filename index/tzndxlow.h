// NDX index files, low level: the anchor and node layouts, the descriptor of
// an open index, node input and output with the node cache and the path
// of the current descent, the semaphore file of shared use, key
// computation and comparison, and the bottom-up build.
//
// File layout (little-endian): 512-byte blocks; block 0 is the anchor (root
// node at 0, next free node at 4, key type letter at 9, key length at 12,
// keys per node at 14, key type code at 16, entry size at 18, unique flag
// at 23, the normalised key expression at 24, the complement of the table's
// record count at 488, the count at 492, the table's file name at 496).
// Node n lies at n x 512: an entry count at 0, then entries of entry-size
// bytes (child node, record number, key), then in an interior node the
// right-most child. A node whose first child is 0 is a leaf.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/engine_context.h"
#include "index/expr.h"

namespace vz {

inline constexpr int kMaxOrders = 16;
inline constexpr std::size_t kNodeSize = 512;
// Deepest descent accepted; a deeper one means a damaged file.
inline constexpr std::size_t kMaxDepth = 48;
inline constexpr const char* kKeyMakerMarker = "User defined KeyMaker was used to build this index";

// A caller's key function (an index driven by code instead of an expression).
using KeyMaker = std::function<std::string()>;

// The 24 bytes of the anchor that are kept in memory.
struct NdxAnchor {
  std::uint8_t raw[24] = {};
  std::int32_t Root() const;
  void SetRoot(std::int32_t n);
  std::int32_t NextFree() const;
  void SetNextFree(std::int32_t n);
  char TypeLetter() const { return static_cast<char>(raw[9]); }
  void SetTypeLetter(char c) { raw[9] = static_cast<std::uint8_t>(c); }
  int KeyLen() const;
  void SetKeyLen(int n);
  int KeysPerNode() const;
  void SetKeysPerNode(int n);
  int TypeCode() const;
  void SetTypeCode(int n);
  int EntrySize() const;
  void SetEntrySize(int n);
  bool Unique() const { return raw[23] != 0; }
  void SetUnique(bool u) { raw[23] = u ? 1 : 0; }
};

// One level of a descent: the node, its image, and the entry taken there
// (in an interior node, count means the right-most child).
struct PathLevel {
  std::int32_t node = 0;
  std::array<std::uint8_t, kNodeSize> image{};
  int entry = 0;
};

// An open index (one per order of a work area).
struct IND {
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
  std::string CurKey;              // key of the current record
  std::uint64_t KeyMove = 0;       // the area's KeysMoved when CurKey was worked out
  std::vector<PathLevel> Path;     // root first; the last level is the current leaf
  std::vector<PathLevel> SavedPath;  // a step's copy of Path (its buffer is reused)
  std::uint64_t Blocks = 0;        // blocks the file holds (next free, corrected)
  bool Positioned = false;         // a current node exists
  // Guard against damaged files whose nodes are shared by several parents:
  // a walk in one direction meets every leaf once at most.
  std::unordered_set<std::int32_t> RunLeaves;
  int RunDirection = 0;
  // The file mapped for node reads (mapped again when it grew; the size at
  // which mapping failed, so that it is tried again only at another size).
  platform::FileMapping Map;
  std::uint64_t MapRefusedSize = UINT64_MAX;
  ~IND();
};

// The node cache of a work area (used by the controlling order only).
struct NodeCache {
  struct Slot {
    std::int32_t node = 0;
    bool used = false;
    bool modified = false;
    std::array<std::uint8_t, kNodeSize> image{};
  };
  std::vector<Slot> Slots;  // most useful first
  int owner = 0;            // order whose nodes it holds (0: none yet)
  bool Enabled() const { return !Slots.empty(); }
};

// The semaphore file that lets several programs share a table's indexes.
struct SemaphoreState {
  platform::File File;
  std::string Name;
  bool LoggedIn = false;
  int Reads = 0;   // nesting of INCREAD / DECREAD
  int Locks = 0;   // nesting of LOCKSEMAPHORE / UNLOCKSEMAPHORE
  std::uint32_t SeenCounter = 0;
  // The file's first bytes mapped, so that a look at the change counter
  // (at the start of every read) costs no system call.
  platform::FileMapping Map;
};

// The indexes of one work area.
struct AreaIndexes {
  std::array<std::unique_ptr<IND>, kMaxOrders + 1> Opened;  // by order given to SetIndexTo
  std::array<IND*, kMaxOrders + 1> Work{};                  // slot 1 controls
  bool Natural = false;
  int LastOrder = 0;
  NodeCache Cache;
  SemaphoreState Sem;
  // Counts the moves of a read-only table after which the keys of every
  // open index were left to be worked out when needed (an index whose
  // KeyMove differs holds a key that is due).
  std::uint64_t KeysMoved = 0;
  bool Any() const;
};

// Engine-wide settings of the index engine.
struct IndexSettings {
  bool Flush = false;         // commit the file after every anchor write
  bool NoCache = false;       // no node cache anywhere
  int CacheBytes = 4096;      // node cache size
  bool AllOrders = false;     // SyncIndex treats every order
  bool ExactFind = false;     // Find compares the whole key
  bool UniqueDefault = false; // every new index is UNIQUE
  std::string SemaphoreDir;   // where semaphore files live (empty: beside the table)
  bool Found = false;         // result of the last search or move
  // A program that only reads: it takes part in an index's semaphore file
  // read-only where the file is, and makes none where it is not.
  bool ReadOnlyUse = false;
};

// Raised inside the index engine after the error was stored (not
// dispatched); public entry points decide what to do with it.
struct IndexFailure {};
[[noreturn]] void IndexRaise(int code, const std::string& detail);

// --- Keys ---
int KeyCompare(const IND& x, const std::uint8_t* a, const std::uint8_t* b);
// The key of the current record: a character key as the expression (or
// KeyMaker) gives it, any length; a numeric or date key as 8 bytes.
std::string ComputeKey(IND& x, bool oemTable);
// A character key brought to the key length (padded with blanks, cut).
std::string FitKey(const std::string& key, int keyLen);

// --- Nodes ---
int NodeCount(const std::uint8_t* image);
std::uint8_t* EntryAt(IND& x, std::uint8_t* image, int i);
const std::uint8_t* EntryAt(const IND& x, const std::uint8_t* image, int i);
std::int32_t EntryChild(const std::uint8_t* entry);
std::int32_t EntryRecord(const std::uint8_t* entry);
std::int32_t RightChild(const IND& x, const std::uint8_t* image);
bool IsLeaf(const std::uint8_t* image);
// Reads node n (from the path, the node cache, or the file) and checks it;
// 222 for a damaged node, 254 for node 0.
void SeekAndRead(IND& x, std::int32_t n, std::uint8_t* image);
void SeekAndWrite(IND& x, std::int32_t n, const std::uint8_t* image);
void SetUpNodeCache(AreaIndexes& a, int bytes);

// --- Anchor ---
void WriteAnchorNode(IND& x, WorkArea& table);
void ReadAnchor(IND& x);

// --- Semaphores of shared use ---
bool SharedUse(const WorkArea& table);
std::string SemaphoreFileName(const WorkArea& table);
// The steps of the semaphore protocol: taking part and leaving, the start
// and end of a read, the start and end of a change.
enum class SemaphoreAction { Login, Logout, IncRead, DecRead, Lock, Unlock };
// The action's name in messages ("INCREAD", "LOCKSEMAPHORE", ...).
const char* ActionName(SemaphoreAction action);
// Returns true when another program changed the indexes since this one last
// looked (IncRead and Lock only).
bool HandleSemafore(WorkArea& table, AreaIndexes& a, SemaphoreAction step);

// --- Build ---
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

// What one change of a table's indexes overwrote, so that a change cut
// short by a failed write (a full disk, a failing device) can be taken back
// and leave every index as it was. While a journal is active, the first
// write of each node and of the anchor keeps the block as the file held it;
// nodes past the file's end were new and go with a cut of the file.
class IndexJournal {
 public:
  // Starts keeping the open indexes of a work area (their anchors as held
  // in memory and the sizes of their files).
  explicit IndexJournal(AreaIndexes& area);
  ~IndexJournal();
  IndexJournal(const IndexJournal&) = delete;
  IndexJournal& operator=(const IndexJournal&) = delete;

  // Called before block n of x is written.
  void Keep(IND& x, std::int32_t n);
  // Writes back every kept block, cuts every file to its former size and
  // puts the anchors held in memory back. False when a write back failed
  // (the error state is not touched either way).
  bool TakeBack();

 private:
  struct Saved {
    IND* Index = nullptr;
    NdxAnchor Anchor;
    bool AnchorChanged = false;
    std::string CurKey;
    std::uint64_t FileSize = 0;
    std::uint64_t Blocks = 0;
    std::vector<std::pair<std::int32_t, std::array<std::uint8_t, kNodeSize>>> Images;
  };
  AreaIndexes& area_;
  std::vector<Saved> saved_;
  IndexJournal* outer_ = nullptr;
};

// The index layer's state, kept in the engine context's extension slot.
struct IndexState : ContextExtension {
  // The expressions AssignExpr handed out and ReleaseExpr did not take back
  // yet. First, so that it outlives the indexes that hold expressions.
  std::unordered_set<CompiledExpr*> Expressions;
  // Work areas 1 to 34 (34 stays empty).
  std::array<AreaIndexes, kMaxAreas + 2> Areas;
  IndexSettings Settings;
  BuildProgress Progress;
  // Items sorted in memory per run (lowered by tests to force spilling).
  std::size_t RunItems = kDefaultRunItems;
  // How often SyncIndex reads a shared table's record again when its key is
  // not in the index, giving another program time to finish its change
  // (lowered by the fuzz targets, where no other program runs).
  int SyncAttempts = kDefaultSyncAttempts;
  // The index whose open is positioning the table (its key check is the
  // open's own), or null.
  const IND* Opening = nullptr;
  // The journal of the index change under way, or null.
  IndexJournal* Journal = nullptr;

  static constexpr std::size_t kDefaultRunItems = 8189;
  static constexpr int kDefaultSyncAttempts = 50;
  // Drops every open index (nothing is written) and puts the settings back.
  // The expressions still handed out stay counted: their holders release
  // them.
  void Reset() override;
};

IndexState& CreateIndexState();
// The index layer's state in the engine context (made on first use).
inline IndexState& IndexEngine() {
  ContextExtension* e = Engine().IndexLayer.get();
  return e ? static_cast<IndexState&>(*e) : CreateIndexState();
}

// Whether an index's key of the current record is still to be worked out,
// and the marks that say it is or is not.
inline bool KeyDue(const IND& x) {
  return x.KeyMove != IndexEngine().Areas[static_cast<std::size_t>(x.Area)].KeysMoved;
}
inline void MarkKeyWorkedOut(IND& x) {
  x.KeyMove = IndexEngine().Areas[static_cast<std::size_t>(x.Area)].KeysMoved;
}
inline void MarkKeyDue(IND& x) {
  x.KeyMove = IndexEngine().Areas[static_cast<std::size_t>(x.Area)].KeysMoved - 1;
}

void MakeIndex(const std::string& fileName, const BuildOptions& options);

// File names: the default extension and the table's directory.
std::string IndexFileName(const std::string& name, const WorkArea* table);
// True when two names reach one file: the same name without regard to
// ASCII letter case, or another spelling of it (relative, through a link).
bool SameFile(const std::string& a, const std::string& b);
// Takes the option words UNIQUE, NOCACHE, SOUNDEX, DESCENDING out of a name.
struct IndexOptions {
  bool Unique = false, NoCache = false, Soundex = false, Descending = false;
};
std::string TakeIndexOptions(const std::string& text, IndexOptions& options);

}  // namespace vz
