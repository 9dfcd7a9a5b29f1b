// The application object's small services for the reader's forms: the
// application's title, the request to terminate, the message boxes, the
// screen cursor, and the fonts the forms are laid out with.
//
// Message boxes are modal QMessageBox instances run with exec(); a caller
// (or a test) finds the open one through QApplication::activeModalWidget().
// Their texts may break lines with CR, CR LF or LF.
#pragma once

#include <QApplication>
#include <QFont>
#include <QFrame>
#include <QMessageBox>
#include <QString>
#include <exception>
#include <functional>

class QWidget;

namespace vz::app {

// The reader's application object. An exception that escapes an event
// handler is shown as the application shows an exception nobody handled
// (ShowException), the rest of that handler is skipped, and the program goes
// on; without this, an exception unwinding through the window system's
// event dispatch would end the program.
class Application : public QApplication {
 public:
  using QApplication::QApplication;
  bool notify(QObject* receiver, QEvent* event) override;
};

// What Application::notify does around one delivery: runs `deliver` and
// returns its result; when it throws, shows the error and returns false.
bool DeliverShowingErrors(const std::function<bool()>& deliver);

// The application's title: the caption of its plain message boxes, and part
// of the version information's registry key. Until one is set it is the
// application's name (the executable's name).
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

// Asks the application to end: records the request and asks a running event
// loop to quit. Qt ignores a quit request while no event loop runs, so the
// entry point checks Terminated() before it starts the message loop.
void Terminate();
bool Terminated();
// Forgets an earlier request (a new run of the application in one process).
void ClearTerminated();

// CR LF, lone CR and LF all become one line break ("\n").
QString ToLineBreaks(const QString& text);

// A modal message box owned by `owner` (none: the active window); returns the
// standard button that closed it.
int MessageBox(QWidget* owner, const QString& text, const QString& title, QMessageBox::Icon icon,
               QMessageBox::StandardButtons buttons = QMessageBox::Ok);
// A plain message (no icon, OK button) under the application's title.
void ShowMessage(const QString& text, QWidget* owner = nullptr);
// An exception's message as the application shows an exception nobody
// handled: the application's title, an error icon, OK; the message ends with
// a full stop (one is added when it ends in a letter or a digit).
void ShowException(const std::exception& error, QWidget* owner = nullptr);
QString ExceptionText(const std::exception& error);

// The screen cursor: one cursor for the whole application, overriding the
// widgets' own. Setting the default cursor lifts the override. The override
// is kept as a single entry on Qt's override-cursor stack, however often it
// is set, so it never stacks up.
void SetScreenCursor(Qt::CursorShape shape);
Qt::CursorShape ScreenCursor();

// Centres a top-level window, frame included, on its screen (the primary
// screen until it is shown). The native window is made first, so that its
// frame is known where the platform tells it at once; where only a window
// manager tells it, later, the frame counts as nothing.
void CentreOnScreen(QWidget* window);

// The running program's own file.
QString ProgramFileName();

// The name the desktop knows the reader by: its command, its desktop entry
// (vorza.desktop) and the class of its windows, which docks match to the
// entry to show its icon.
inline constexpr const char* kDesktopName = "vorza";
// Gives the application that name (before its first window is made).
void SetDesktopIdentity();

// The forms' sans-serif font at a pixel height (the layouts give heights as
// negative numbers: -11 is 11 pixels).
QFont SansFont(int pixelHeight, bool bold = false);

// A raised panel named "Panel1" that fills a form to its edges (the
// dialogs place their components on it).
QFrame* FillWithRaisedPanel(QWidget* form);

}  // namespace vz::app
