// The index layer's state, kept in the engine context's extension slot:
// the open indexes of every work area and the index engine's settings;
// and how the layer raises an error inside itself.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>

#include "engine/engine_context.h"
#include "index/ndx_build.h"
#include "index/ndx_format.h"
#include "index/ndx_node_cache.h"
#include "index/ndx_semaphore.h"

namespace vz {

inline constexpr int kMaxOrders = 16;

class IndexJournal;

// The indexes of one work area.
struct AreaIndexes {
  std::array<std::unique_ptr<NdxFile>, kMaxOrders + 1> Opened;  // by order given to SetIndexTo
  std::array<NdxFile*, kMaxOrders + 1> Work{};                  // slot 1 controls
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
  bool Flush = false;          // commit the file after every anchor write
  bool NoCache = false;        // no node cache anywhere
  int CacheBytes = 4096;       // node cache size
  bool AllOrders = false;      // SyncIndex treats every order
  bool ExactFind = false;      // Find compares the whole key
  bool UniqueDefault = false;  // every new index is UNIQUE
  std::string SemaphoreDir;    // where semaphore files live (empty: beside the table)
  bool Found = false;          // result of the last search or move
  // A program that only reads: it takes part in an index's semaphore file
  // read-only where the file is, and makes none where it is not.
  bool ReadOnlyUse = false;
};

// Raised inside the index engine after the error was stored (not
// dispatched); public entry points decide what to do with it.
struct IndexError {};
[[noreturn]] void RaiseIndexError(int code, const std::string& detail);

// The index layer's state, kept in the engine context's extension slot.
struct IndexState : ContextExtension {
  // The expressions CompileExpr handed out and ReleaseExpr did not take back
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
  const NdxFile* Opening = nullptr;
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

// The indexes of the current work area.
inline AreaIndexes& CurrentAreaIndexes() {
  return IndexEngine().Areas[static_cast<std::size_t>(Engine().Areas.Current)];
}

// The controlling index of the current work area; null in natural order.
inline NdxFile* ControllingIndex() {
  AreaIndexes& a = CurrentAreaIndexes();
  return a.Natural ? nullptr : a.Work[1];
}

// Puts the opened indexes into the order slots, the controlling one first.
void RebuildOrderSlots(AreaIndexes& a);

// Runs an undo action when its scope is left by an exception: a change cut
// short is taken back, a change that completed stays.
//   UndoOnException undo([&] { journal.TakeBack(); });
template <typename F>
class UndoOnException {
 public:
  explicit UndoOnException(F undo) : undo_(std::move(undo)) {}
  ~UndoOnException() {
    if (std::uncaught_exceptions() > exceptions_) undo_();
  }
  UndoOnException(const UndoOnException&) = delete;
  UndoOnException& operator=(const UndoOnException&) = delete;

 private:
  F undo_;
  int exceptions_ = std::uncaught_exceptions();
};

}  // namespace vz
