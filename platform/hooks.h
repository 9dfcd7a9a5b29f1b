// The hooks through which the user interface presents what the engines and
// the table component have to say. A program without a GUI keeps the
// defaults (standard error); the GUI installs its message boxes.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace vz::platform {

// Shows a halting error: a caption ("Program halted.") and a message. The
// default writes the message to standard error, each CR LF as one line break.
using HaltPresenter = std::function<void(const std::string& caption, const std::string& message)>;
// Shows a plain message that does not end the program ("Lock failed [...]").
using MessagePresenter = std::function<void(const std::string& message)>;
// Ends the process with an exit status (the default calls std::exit).
using Terminator = std::function<void(int status)>;

// A status window of the GUI that shows one line of text over the active
// window (the progress of an index build is shown in one).
class StatusWindow {
 public:
  virtual ~StatusWindow() = default;
  virtual void ShowMessage(const std::string& text) = 0;
};
using StatusWindowFactory =
    std::function<std::unique_ptr<StatusWindow>(const std::string& caption)>;
StatusWindowFactory SetStatusWindowFactory(StatusWindowFactory factory);
// A new status window, or none when no GUI has installed its factory.
std::unique_ptr<StatusWindow> CreateStatusWindow(const std::string& caption);

HaltPresenter SetHaltPresenter(HaltPresenter presenter);
MessagePresenter SetMessagePresenter(MessagePresenter presenter);
Terminator SetTerminator(Terminator terminator);

void PresentHalt(const std::string& caption, const std::string& message);
void ShowMessage(const std::string& message);

// The exit status for an error code: the code modulo 256, or 255 where
// that is 0, so a halting error never reports success (POSIX keeps only the
// low 8 bits of a status).
int ExitStatusFor(int code);
// Ends the program with ExitStatusFor(code). Does not return.
[[noreturn]] void Terminate(int code);

// Writes a message with CR LF pairs (and lone CRs) turned into line feeds.
std::string ToLines(const std::string& message);

// A message with every byte shown: each control byte other than CR, LF and
// TAB (a NUL among them, and DEL) is written as \xNN (two lower-case hex
// digits); every other byte stays. Messages can carry bytes from damaged
// files (a field type byte, an index key), and a NUL must not cut them
// short wherever they are shown. Showing an already shown text again
// changes nothing.
std::string VisibleText(std::string_view message);

}  // namespace vz::platform
