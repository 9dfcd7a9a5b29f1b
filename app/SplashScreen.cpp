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

  picture_ = new QLabel(this);
  picture_->setObjectName(QStringLiteral("Image1"));
  picture_->setGeometry(0, 0, kClientWidth, kClientHeight);
  picture_->setPixmap(SplashPicture(version));

  // Precise timers: a coarse one may tick up to 5% early, and the splash
  // is to stay the full 4.5 seconds.
  holdTimer_ = new QTimer(this);
  holdTimer_->setObjectName(QStringLiteral("Timer1"));
  holdTimer_->setTimerType(Qt::PreciseTimer);
  holdTimer_->setInterval(4500);
  connect(holdTimer_, &QTimer::timeout, this, &SplashScreen::OnHoldTimer);

  slideTimer_ = new QTimer(this);
  slideTimer_->setObjectName(QStringLiteral("Timer2"));
  slideTimer_->setTimerType(Qt::PreciseTimer);
  slideTimer_->setInterval(1);
  connect(slideTimer_, &QTimer::timeout, this, &SplashScreen::OnSlideTimer);
  slideTimer_->start();

  // Centred on the screen; OnActivated then lifts it above the screen.
  const QRect screen = this->screen()->geometry();
  move(CentredLeft(), screen.y() + (screen.height() - kClientHeight) / 2);
}

int SplashScreen::CentredLeft() const {
  const QRect screen = this->screen()->geometry();
  return screen.x() + (screen.width() - width()) / 2;
}

void SplashScreen::OnHoldTimer() {
  holdTimer_->stop();
}

// The top edge is the one the window reports. It is the position last set
// until the window system says otherwise: a window manager that keeps
// windows inside the screen moves the splash down, and the slide then goes
// on from where the splash really is; either way it stops at kFinalTop.
void SplashScreen::OnSlideTimer() {
  const int top = y();
  if (top < kFinalTop) move(x(), top + kStep);
}

void SplashScreen::OnActivated() {
  move(CentredLeft(), kStartTop);
}

bool SplashScreen::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate) {
    if (showActivationTaken_)
      showActivationTaken_ = false;
    else
      OnActivated();
  }
  return QWidget::event(event);
}

void ShowSplash(SplashScreen& splash) {
  // Showing the splash activates it. Its OnActivated runs here, before the
  // window appears, so that it is never seen at the screen's centre; the
  // window system's report of this activation, which comes later, is then
  // not run again.
  splash.OnActivated();
  splash.showActivationTaken_ = true;
  // Qt handles all pending events when a splash window is shown before the
  // event loop runs; slideTimer_ is held meanwhile, so the slide has not begun
  // on return.
  const bool sliding = splash.SlideTimer()->isActive();
  splash.SlideTimer()->stop();
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
  if (sliding) splash.SlideTimer()->start();
}

void EnableSplashTimer(SplashScreen& splash) {
  splash.HoldTimer()->start();
}

void WaitWhileSplashTimerRuns(SplashScreen& splash) {
  // Each round handles everything pending; when nothing is, it sleeps until
  // the next event instead of spinning. holdTimer_ being enabled, a tick is
  // always due, so the wait cannot hang; while the slide runs, slideTimer_ wakes
  // it every millisecond.
  while (splash.HoldTimer()->isActive())
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  splash.SlideTimer()->stop();
  splash.hide();
  splash.deleteLater();
}

}  // namespace vz::app
