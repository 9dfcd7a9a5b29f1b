// Engine errors: one error state for both engines, the dispatcher that acts
// on a stored error, the code table, and the small memory and flush routines
// that report through it.
//
// Every failing procedure stores a code and a detail text with SetError.
// With dispatching on (the default), HandleError then acts: an installed
// ErrorHandler is called; otherwise the error halts the work. A halting
// error is reported to the caller as EngineError, unless the program has
// installed the halting presentation (InstallHaltingPresentation) and
// RaiseErrors is off: then the message is presented through the platform's
// halt presenter (standard error, or the GUI's "Program halted." box) and
// the program ends with the code as its exit status. With dispatching off
// the procedure goes on to its own clean-up and returns; the caller tests
// ErrorCode.
//
// So a library user (a test, another program) always gets its errors back;
// the reader and vorza-dbf install the presentation at start-up, and end
// as their users know them to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace vz::platform {
class File;
}

namespace vz {

// An engine error raised as an exception. what() shows every byte of the
// message (control bytes as \xNN, as platform::VisibleText writes them), so
// a NUL from a damaged file cannot cut it short; Message() is the message
// as it was built.
class EngineError : public std::runtime_error {
 public:
  explicit EngineError(const std::string& message);
  const std::string& Message() const { return message_; }

 private:
  std::string message_;
};

// The engine-wide error state; its one instance is in the engine context.
struct ErrorState {
  std::uint16_t ErrorCode = 0;
  std::string ErrorDetail;
  std::uint16_t MessageCode = 0;
  bool ErrorDispatch = true;
  bool RaiseErrors = false;
  std::function<void()> ErrorHandler;
  // Set once a halting error is being presented: the program is ending, and
  // further errors are not dispatched.
  bool Halting = false;
  // A halting error is presented and ends the program (see the top).
  bool PresentHalts = false;
  // The stored error has not been dispatched yet (procedures that dispatch
  // once, at their end, store first).
  bool Undispatched = false;
};

// Caption of the box that presents a halting error.
inline constexpr const char* kHaltCaption = "Program halted.";

void SetError(int code, const std::string& detail);
void HandleError();

// Makes a halting error end the program: presented with kHaltCaption, then
// the exit with the code. A program calls it once at start-up; the engine
// context's Reset takes it back.
void InstallHaltingPresentation();
// Ends the work with an error that the caller cannot go on from (the
// message is the full text, ErrorText and detail): presented and the
// program ended when the halting presentation is installed, otherwise
// raised as EngineError.
[[noreturn]] void Halt(int code, const std::string& message);
// (ClearError, which procedures call on entry, is in engine_context.h.)
// Stores an error without dispatching it; DispatchPending acts on it later.
void StoreError(int code, const std::string& detail);
// Dispatches a stored error that was not dispatched yet.
void DispatchPending();

std::string ErrorText(int code);
// The standard text of a code alone ("File not found").
std::string StandardErrorText(int code);
std::string TakeErrorDetail();
std::string ErrorMessage();
bool SetErrorDispatch(bool on);
bool SetRaiseErrors(bool on);

// Restores the dispatch switch when it goes out of scope.
class ScopedErrorDispatch {
 public:
  explicit ScopedErrorDispatch(bool on) : previous_(SetErrorDispatch(on)) {}
  ~ScopedErrorDispatch() { SetErrorDispatch(previous_); }
  ScopedErrorDispatch(const ScopedErrorDispatch&) = delete;
  ScopedErrorDispatch& operator=(const ScopedErrorDispatch&) = delete;

 private:
  bool previous_;
};

// Memory routines. GetMem allocates `size` bytes (null and code 217 when
// there is no room); FreeMem frees and empties the reference, and fails with
// code 9 on an empty one. MemAvail always reports plenty: allocation itself is
// what fails.
void* GetMem(std::size_t size);
void FreeMem(void*& block);
std::uint64_t MemAvail();

// Commits a file's buffers to disk.
void FlushFile(platform::File& file);

// A number as decimal text (messages).
std::string Str(long long n);

}  // namespace vz
