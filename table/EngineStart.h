// The start of the engine for a program built on the table components.
#pragma once

#include <string>

namespace vz {

// What an engine error that nobody handles does in a program.
enum class HaltingErrors {
  Reported,   // raised to the caller as EngineError (the library's default)
  Presented,  // presented in a "Program halted." message, then the program
              // ends with the error's code as its exit status
};

// Starts the engine for a program built on the table components, once
// before its first table: the engine's units join in (InitEngine) and
// halting errors are handled as asked.
void StartEngine(HaltingErrors halting);

// The folder of the indexes' semaphore files: empty (the start) keeps each
// beside its index; a program whose indexes live elsewhere than its tables
// (a folder it cannot write) names that folder.
void SetIndexSemaphoreFolder(const std::string& folder);

}  // namespace vz
