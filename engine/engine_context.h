// The engine context: the one owner of everything the storage engine and
// the layers above it keep between calls. The settings, the 33 work areas
// and the current one, the hook tables through which the memo unit, the
// expression evaluator and the index layer join in, the custom skip, the
// date settings, the error state and the last Locate's terms are members;
// the index layer keeps its own state in the extension slot (the engine
// never knows its type).
//
// There is one context per process, reached through Engine(): the engine
// is single-threaded by design (one current work area, one error state),
// and every procedure acts on the context's current area. Engine() is an
// inline function returning a static instance, so reaching the state costs
// no more than a global did.
//
// Reset() puts everything back to the initial state, as at start-up:
//   - the index layer's state is put back first (its open indexes are
//     dropped), then every work area is dropped. Nothing is written: no
//     header is rewritten, no index anchor flushed, no semaphore logged out.
//     The files' descriptors and locks go with the objects that hold them.
//     A caller that wants its tables closed properly calls CloseAll first.
//   - the settings, the hooks (memo unit, evaluator, index, custom skip),
//     the date settings, the error state (the halting presentation
//     included) and the Locate terms take their initial values; the
//     program installs its units again (InitEngine).
//   - the platform layer's code page goes back to 437. The presenters,
//     the terminator and the status-window factory (platform/hooks.h) stay:
//     they are the program's way to the user, installed and removed by it.
// Objects the caller holds (a table component, a compiled expression, a
// memo stream) are not the context's and outlive it unchanged.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "engine/dates.h"
#include "engine/errors.h"
#include "engine/work_area.h"

namespace vz {

// Engine-wide open and navigation settings.
struct EngineSettings {
  int DefaultFileMode = platform::kModeShared;  // 0x42
  int ForcedFileMode = -1;                      // -1: none
  bool NetworkMode = true;
  bool FixRecCount = false;
  bool AnsiTables = false;
  bool HideDeleted = false;
  bool ForceSharedMemo = false;  // opens memo files shared even when exclusive
};

// Index hooks, filled by the index engine at start-up. An empty entry means
// there is no index layer: moves use record-number order.
struct IndexHooks {
  bool (*Active)() = nullptr;       // the current area has a controlling index
  void (*Synchronise)() = nullptr;  // position the index on the current record
  std::int64_t (*NextEntry)() = nullptr;
  std::int64_t (*PriorEntry)() = nullptr;
  std::int64_t (*FirstEntry)() = nullptr;
  std::int64_t (*LastEntry)() = nullptr;
  bool (*AtEof)() = nullptr;
  bool (*AtBof)() = nullptr;
  void (*StoreKeys)() = nullptr;
  void (*SetBof)(bool) = nullptr;
  void (*SetEof)(bool) = nullptr;
  void (*CloseIndexes)() = nullptr;
  void (*Semaphore)(bool begin) = nullptr;
  // Keeps every open index of the current area in step after a record was
  // appended (true) or rewritten (false).
  void (*UpdateKeys)(bool appended) = nullptr;
  // Rebuilds every open index of the current area (after a PACK).
  void (*Rebuild)() = nullptr;
};

// Memo hooks, filled by the memo unit at start-up.
struct MemoHooks {
  // Opens the memo file of the current area's table; false with the error set.
  bool (*Open)(WorkArea& area) = nullptr;
  void (*Close)(WorkArea& area) = nullptr;
  // Creates an empty memo file for a new table (version byte of the table).
  // Returns 0 or a DOS-style code.
  int (*Create)(const std::string& tableName, std::uint8_t version) = nullptr;
  // The memo text device: the lines of a memo of the current area, as
  // stored (no character-set conversion).
  bool (*TextLines)(std::int64_t block, std::vector<std::string>& lines) = nullptr;
  // The bytes of a memo text of `area` as stored (decoded, not converted),
  // handed to `use`. `use` may be called a second time when the bytes of
  // the first call could not be trusted (the file changed under the read):
  // only what the last call gives counts. False, with the error set, when
  // the text cannot be read.
  bool (*WithText)(WorkArea& area, std::int64_t block,
                   const std::function<void(const std::uint8_t*, std::size_t)>& use) = nullptr;
};

// The expression evaluator, installed by the expression engine: evaluates
// a filter or while expression on the current record.
struct EvaluatorHooks {
  bool (*IsTrue)(AreaExpression& expr) = nullptr;
};

// A custom skip procedure: given the step, returns the target record and
// whether the end was reached.
using CustomSkipProc = std::function<std::int64_t(std::int64_t n, bool& endReached)>;

// What the last Locate searched for, so that Continue goes on with it.
struct LocateTerms {
  int field = 0;  // 0: no locate to continue
  std::string value;
  bool nocase = false, exact = false, contained = false;
  int area = 0;
};

// State that a layer above the engine keeps in the context. The layer
// creates it (the engine never sees its type) and casts the slot back.
struct ContextExtension {
  virtual ~ContextExtension() = default;
  // Puts the layer's state back to its initial values.
  virtual void Reset() = 0;
};

struct EngineContext {
  EngineContext() = default;
  EngineContext(const EngineContext&) = delete;
  EngineContext& operator=(const EngineContext&) = delete;

  // See the file comment.
  void Reset();

  // The index layer's state (see index/tzndxlow.h); empty until it is used.
  // It comes before the areas so that it outlives them: a filter expression
  // of an area gives itself back to the index layer when the area goes.
  std::unique_ptr<ContextExtension> IndexLayer;
  EngineSettings Settings;
  WorkAreaTable Areas;
  IndexHooks Index;
  MemoHooks MemoUnit;
  EvaluatorHooks Evaluator;
  CustomSkipProc CustomSkip;
  DateSettings Dates;
  ErrorState Errors;
  LocateTerms LastLocate;
  // Numbers every opening of a memo file, so that a memo descriptor made for
  // one opening is never taken for another. It only counts up, Reset too:
  // a descriptor made before a Reset must not match an opening after it.
  std::uint64_t MemoOpenings = 0;
};

namespace detail {
// The one instance; use Engine().
extern EngineContext gEngine;
}  // namespace detail

// The engine's context.
inline EngineContext& Engine() {
  return detail::gEngine;
}

// The table of the current work area, or null when the area is free.
inline WorkArea* CurrentTable() {
  WorkAreaTable& areas = Engine().Areas;
  return areas.Slot[areas.Current].get();
}

// Clears the error code; procedures call it on entry.
inline void ClearError() {
  ErrorState& e = Engine().Errors;
  e.ErrorCode = 0;
  e.Undispatched = false;
}

// Sets one setting for a scope and puts the earlier value back when the
// scope ends, however it ends (a raised error included):
//   ScopedSetting fix(Engine().Settings.FixRecCount, true);
template <typename T>
class ScopedSetting {
 public:
  ScopedSetting(T& setting, T value) : setting_(setting), saved_(setting) {
    setting_ = std::move(value);
  }
  ~ScopedSetting() { setting_ = std::move(saved_); }
  ScopedSetting(const ScopedSetting&) = delete;
  ScopedSetting& operator=(const ScopedSetting&) = delete;

 private:
  T& setting_;
  T saved_;
};

}  // namespace vz
