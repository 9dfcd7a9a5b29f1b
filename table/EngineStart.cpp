#include "table/EngineStart.h"

#include "engine/Dbf4.h"
#include "engine/tzmsg.h"
#include "index/TZNDX.h"

namespace vz {

void StartEngine(HaltingErrors halting) {
  InitEngine();
  if (halting == HaltingErrors::Presented) InstallHaltingPresentation();
}

void SetIndexSemaphoreFolder(const std::string& folder) {
  IndexEngine().Settings.SemaphoreDir = folder;
}

}  // namespace vz
