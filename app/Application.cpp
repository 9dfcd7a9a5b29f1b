#include "app/Application.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QFrame>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>
#include <stdexcept>

#include "platform/hooks.h"

namespace vz::app {
namespace {

// The state behind the application's services. They are free functions
// that the forms call with or without an Application (the tests run the
// forms under a plain QApplication), so their state is kept once per
// process here, as Qt keeps its application's own.
QString gTitle;
bool gTitleSet = false;
bool gTerminated = false;
// Whether our one override cursor is on Qt's stack, and the screen cursor.
bool gCursorPushed = false;
Qt::CursorShape gCursor = Qt::ArrowCursor;

QWidget* OwnerOrActive(QWidget* owner) {
  return owner ? owner : QApplication::activeWindow();
}

}  // namespace

QString ApplicationTitle() {
  return gTitleSet ? gTitle : QCoreApplication::applicationName();
}

void SetApplicationTitle(const QString& title) {
  gTitle = title;
  gTitleSet = true;
}

void Terminate() {
  gTerminated = true;
  QCoreApplication::quit();
}

bool Terminated() {
  return gTerminated;
}

void ClearTerminated() {
  gTerminated = false;
}

QString ToLineBreaks(const QString& text) {
  QString out = text;
  out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return out;
}

int MessageBox(QWidget* owner, const QString& text, const QString& title, QMessageBox::Icon icon,
               QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, ToLineBreaks(title), ToLineBreaks(text), buttons, OwnerOrActive(owner));
  box.setTextFormat(Qt::PlainText);
  return box.exec();
}

void ShowMessage(const QString& text, QWidget* owner) {
  MessageBox(owner, text, ApplicationTitle(), QMessageBox::NoIcon, QMessageBox::Ok);
}

QString ExceptionText(const std::exception& error) {
  QString text = QString::fromUtf8(platform::VisibleText(error.what()));
  if (!text.isEmpty() && text.back().isLetterOrNumber()) text += QLatin1Char('.');
  return text;
}

void ShowException(const std::exception& error, QWidget* owner) {
  MessageBox(owner, ExceptionText(error), ApplicationTitle(), QMessageBox::Critical,
             QMessageBox::Ok);
}

bool DeliverShowingErrors(const std::function<bool()>& deliver) {
  try {
    return deliver();
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    ShowException(std::runtime_error("An unknown error occurred"));
  }
  return false;
}

bool Application::notify(QObject* receiver, QEvent* event) {
  return DeliverShowingErrors([&] { return QApplication::notify(receiver, event); });
}

void SetScreenCursor(Qt::CursorShape shape) {
  if (shape == Qt::ArrowCursor) {
    if (gCursorPushed) QGuiApplication::restoreOverrideCursor();
    gCursorPushed = false;
  } else if (gCursorPushed) {
    QGuiApplication::changeOverrideCursor(QCursor(shape));
  } else {
    QGuiApplication::setOverrideCursor(QCursor(shape));
    gCursorPushed = true;
  }
  gCursor = shape;
}

Qt::CursorShape ScreenCursor() {
  return gCursor;
}

void CentreOnScreen(QWidget* window) {
  QScreen* screen = window->screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  // The native window knows its frame once it exists.
  window->winId();
  const QSize outer = window->frameGeometry().size();
  const QRect area = screen->geometry();
  window->move(area.x() + (area.width() - outer.width()) / 2,
               area.y() + (area.height() - outer.height()) / 2);
}

void SetDesktopIdentity() {
  // The X11 window class is the application's name; Wayland uses the
  // desktop entry's name.
  QCoreApplication::setApplicationName(QString::fromLatin1(kDesktopName));
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopName));
}

QString ProgramFileName() {
  const QString path = QCoreApplication::applicationFilePath();
  return path.isEmpty() ? QStringLiteral("/proc/self/exe") : path;
}

QFont SansFont(int pixelHeight, bool bold) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixelHeight);
  font.setBold(bold);
  return font;
}

QFrame* FillWithRaisedPanel(QWidget* form) {
  auto* layout = new QVBoxLayout(form);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* panel = new QFrame(form);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setLineWidth(1);
  layout->addWidget(panel);
  return panel;
}

}  // namespace vz::app
