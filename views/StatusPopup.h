// The status window: a small yellow window without a border that shows one
// line of progress or status text over the active window, and the GUI's
// status windows for the table component (the progress of an index build).
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>
#include <string>

#include "platform/hooks.h"

class QFrame;
class QLabel;

namespace vz::views {

class StatusPopup : public QWidget {
  Q_OBJECT

 public:
  // Shows its text centred over `over`; without one, over the window that
  // is active when the status window is made (or the screen when none is).
  // The window starts hidden and 0 x 0.
  explicit StatusPopup(QWidget* over = nullptr);
  ~StatusPopup() override;

  // Shows a text at once: the window grows to fit the text with a margin of
  // 30 pixels in each direction (it never shrinks), appears centred and is
  // painted, and pending events are processed before this returns.
  void ShowMessage(const QString& text);
  // The same with the text shown last.
  void ShowMessage();

  // With a caption the window becomes a dialog-style window with a title
  // bar (wide enough for the caption); without one it has no border.
  QString Caption() const { return windowTitle(); }
  void SetCaption(const QString& caption) { setWindowTitle(caption); }

  // Hold back user input (keys, mouse, touch, input methods) while pending
  // events are processed: only other events (painting, timers, posted
  // calls) run, so nothing the user does can act in the middle of the work
  // the window reports on. Held input is delivered afterwards.
  bool HoldsBackInput() const { return holdBackInput_; }
  void SetHoldBackInput(bool on) { holdBackInput_ = on; }

  QString Text() const { return text_; }
  QFrame* OuterPanel() const { return outer_; }
  QLabel* InnerPanel() const { return inner_; }
  QWidget* RememberedWindow() const { return over_; }

 private:
  enum class Border { None, Dialog };
  void ApplyBorder(Border border);
  void ProcessPendingEvents();

  QFrame* outer_ = nullptr;
  QLabel* inner_ = nullptr;
  QPointer<QWidget> over_;
  QString text_;
  Border border_ = Border::None;
  bool holdBackInput_ = false;
};

// A status window of the table component on a StatusPopup: the caption and the
// texts are ANSI; the window holds back user input while it lets pending
// events run. Returns none without a QApplication.
std::unique_ptr<platform::StatusWindow> CreateQtStatusWindow(const std::string& caption);

// Makes the table component's status windows (the index-build progress)
// StatusPopup windows. Returns the factory it replaced.
platform::StatusWindowFactory InstallStatusWindows();

}  // namespace vz::views
