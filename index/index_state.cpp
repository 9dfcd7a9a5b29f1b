#include "index/index_state.h"

#include "engine/dbf.h"
#include "engine/dbf_file.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/fresh_value.h"

namespace vz {

IndexState& CreateIndexState() {
  std::unique_ptr<ContextExtension>& slot = Engine().IndexLayer;
  if (!slot) slot = std::make_unique<IndexState>();
  return static_cast<IndexState&>(*slot);
}

void IndexState::Reset() {
  for (AreaIndexes& a : Areas) ResetToFresh(a);
  ResetToFresh(Settings);
  ResetToFresh(Progress);
  RunItems = kDefaultRunItems;
  SyncAttempts = kDefaultSyncAttempts;
  Opening = nullptr;
  Journal = nullptr;
}

bool AreaIndexes::Any() const {
  for (int i = 1; i <= kMaxOrders; ++i)
    if (Opened[i]) return true;
  return false;
}

void RaiseIndexError(int code, const std::string& detail) {
  StoreError(code, detail);
  throw IndexError{};
}

void RebuildOrderSlots(AreaIndexes& a) {
  for (int i = 0; i <= kMaxOrders; ++i)
    a.Work[static_cast<std::size_t>(i)] = i ? a.Opened[static_cast<std::size_t>(i)].get() : nullptr;
  if (a.LastOrder > 1 && a.Opened[static_cast<std::size_t>(a.LastOrder)])
    std::swap(a.Work[1], a.Work[static_cast<std::size_t>(a.LastOrder)]);
}

}  // namespace vz
