#include "app/SplashScreen.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include "app/Pictures.h"

namespace vz::app {

SplashScreen::SplashScreen(const QString& version, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("SplashScreen"));
  // Never shown on the borderless window; it names it for the window
  // system (and for tools that look for it).
  setWindowTitle(QStringLiteral("Vorza Cheat Reader"));
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(11);
  setFont(font);
  setFixedSize(kClientWidth, kClientHeight);

  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(0, 0, kClientWidth, kClientHeight);
  Image1->setPixmap(SplashPicture(version));

  // Precise timers: a coarse one may tick up to 5% early, and the splash
  // is to stay the full 4.5 seconds.
  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setTimerType(Qt::PreciseTimer);
  Timer1->setInterval(4500);
  connect(Timer1, &QTimer::timeout, this, &SplashScreen::Timer1Timer);

  Timer2 = new QTimer(this);
  Timer2->setObjectName(QStringLiteral("Timer2"));
  Timer2->setTimerType(Qt::PreciseTimer);
  Timer2->setInterval(1);
  connect(Timer2, &QTimer::timeout, this, &SplashScreen::Timer2Timer);
  Timer2->start();

  // Centred on the screen; FormActivate then lifts it above the screen.
  const QRect screen = this->screen()->geometry();
  move(CentredLeft(), screen.y() + (screen.height() - kClientHeight) / 2);
}

int SplashScreen::CentredLeft() const {
  const QRect screen = this->screen()->geometry();
  return screen.x() + (screen.width() - width()) / 2;
}

void SplashScreen::Timer1Timer() {
  Timer1->stop();
}

// The top edge is the one the window reports. It is the position last set
// until the window system says otherwise: a window manager that keeps
// windows inside the screen moves the splash down, and the slide then goes
// on from where the splash really is; either way it stops at kFinalTop.
void SplashScreen::Timer2Timer() {
  const int top = y();
  if (top < kFinalTop) move(x(), top + kStep);
}

void SplashScreen::FormActivate() {
  move(CentredLeft(), kStartTop);
}

bool SplashScreen::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) {
    if (showActivationTaken_)
      showActivationTaken_ = false;
    else
      FormActivate();
  }
  return QWidget::event(event);
}

void ShowSplash(SplashScreen& splash) {
  // Showing the splash activates it. Its FormActivate runs here, before the
  // window appears, so that it is never seen at the screen's centre; the
  // window system's report of this activation, which comes later, is then
  // not run again.
  splash.FormActivate();
  splash.showActivationTaken_ = true;
  // Qt handles all pending events when a splash window is shown before the
  // event loop runs; Timer2 is held meanwhile, so the slide has not begun
  // on return.
  const bool sliding = splash.Timer2->isActive();
  splash.Timer2->stop();
  splash.show();
  splash.activateWindow();
  // Take in what the window system reports about the new window (exposure,
  // activation) and paint it, leaving timers and user input pending. Some
  // window systems take a moment to expose a new window: wait for it, a
  // quarter of a second at most.
  constexpr QEventLoop::ProcessEventsFlags kNoTimersNoInput =
      QEventLoop::ExcludeUserInputEvents | QEventLoop::X11ExcludeTimers;
  QElapsedTimer waited;
  waited.start();
  for (;;) {
    QCoreApplication::processEvents(kNoTimersNoInput);
    const QWindow* window = splash.windowHandle();
    if (!window || window->isExposed() || waited.elapsed() >= 250) break;
    QThread::msleep(1);
  }
  splash.repaint();
  if (sliding) splash.Timer2->start();
}

void EnableSplashTimer(SplashScreen& splash) {
  splash.Timer1->start();
}

void WaitWhileSplashTimerRuns(SplashScreen& splash) {
  // Each round handles everything pending; when nothing is, it sleeps until
  // the next event instead of spinning. Timer1 being enabled, a tick is
  // always due, so the wait cannot hang; while the slide runs, Timer2 wakes
  // it every millisecond.
  while (splash.Timer1->isActive())
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  splash.Timer2->stop();
  splash.hide();
  splash.deleteLater();
}

}  // namespace vz::app
