#include "table/EngineStart.h"

#include "engine/dbf.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/indexes.h"

namespace vz {

void StartEngine(HaltingErrors halting) {
  InitEngine();
  if (halting == HaltingErrors::Presented) InstallHaltingPresentation();
}

void SetIndexSemaphoreFolder(const std::string& folder) {
  IndexEngine().Settings.SemaphoreDir = folder;
}

}  // namespace vz
