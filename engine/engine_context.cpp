#include "engine/engine_context.h"

#include "platform/codepage.h"

namespace vz {

namespace detail {
EngineContext gEngine;
}  // namespace detail

void EngineContext::Reset() {
  // The index layer first: its indexes belong to the areas dropped next.
  if (IndexLayer) IndexLayer->Reset();
  for (auto& slot : Areas.Slot) slot.reset();
  Areas.Current = 1;
  Settings = EngineSettings{};
  Index = IndexHooks{};
  MemoUnit = MemoHooks{};
  Evaluator = EvaluatorHooks{};
  CustomSkip = nullptr;
  Dates = DateSettings{};
  Errors = ErrorState{};
  LastLocate = LocateTerms{};
  platform::SetOemCodePage(437);
}

}  // namespace vz
