#include "engine/engine_context.h"

#include "platform/codepage.h"
#include "platform/fresh_value.h"

namespace vz {

namespace detail {
EngineContext gEngine;
}  // namespace detail

void EngineContext::Reset() {
  // The index layer first: its indexes belong to the areas dropped next.
  if (IndexLayer) IndexLayer->Reset();
  for (auto& slot : Areas.Slot) slot.reset();
  Areas.Current = 1;
  ResetToFresh(Settings);
  ResetToFresh(Index);
  ResetToFresh(MemoUnit);
  ResetToFresh(Evaluator);
  CustomSkip = nullptr;
  ResetToFresh(Dates);
  ResetToFresh(Errors);
  ResetToFresh(LastLocate);
  platform::SetOemCodePage(437);
}

}  // namespace vz
