// The splash window: a borderless 289 x 127 window centred on the screen,
// lifted above the screen when it is shown and slid down in steps of 10
// pixels to a top edge of 200; and the start-up wait that keeps it up until
// holdTimer_'s first tick, then removes it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "app/Pictures.h"
#include "app/SplashScreen.h"

namespace vz::app {
namespace {

// The top edges after each step of the slide from -200: -190, ..., 200.
std::vector<int> SlideFromMinus200() {
  std::vector<int> tops;
  for (int top = -190; top <= 200; top += 10) tops.push_back(top);
  return tops;
}

int CentredLeft() {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  return screen.x() + (screen.width() - 289) / 2;
}

// Runs a real event loop until `done` holds or `ms` milliseconds passed.
template <typename Done>
void RunLoopUntil(Done done, int ms) {
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(1);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  poll.start();
  loop.exec();
}

void SendActivation(QWidget& window) {
  QEvent activate(QEvent::WindowActivate);
  QCoreApplication::sendEvent(&window, &activate);
}

class SplashTest : public ::testing::Test {
 protected:
  void SetUp() override { splash_ = new SplashScreen(QStringLiteral("1.3.0.3")); }
  void TearDown() override {
    delete splash_.data();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  QPointer<SplashScreen> splash_;
};

TEST_F(SplashTest, IsABorderlessWindowOf289By127CentredOnTheScreen) {
  SplashScreen& s = *splash_;
  EXPECT_TRUE(s.isWindow());
  const Qt::WindowFlags flags = s.windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::FramelessWindowHint));
  for (Qt::WindowType hint :
       {Qt::WindowTitleHint, Qt::WindowSystemMenuHint, Qt::WindowMinimizeButtonHint,
        Qt::WindowMaximizeButtonHint, Qt::WindowCloseButtonHint})
    EXPECT_FALSE(flags.testFlag(hint)) << hint;
  EXPECT_EQ(s.size(), QSize(289, 127));
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(s.pos(), QPoint(CentredLeft(), screen.y() + (screen.height() - 127) / 2));

  // The picture fills the window and carries the version it was given.
  EXPECT_EQ(s.Picture()->parentWidget(), &s);
  EXPECT_EQ(s.Picture()->geometry(), QRect(0, 0, 289, 127));
  const QImage shown = s.Picture()->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
  const QImage picture =
      SplashPicture(QStringLiteral("1.3.0.3")).toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shown.size(), picture.size());
  // The same picture, up to a few levels of smoothing at the letters' edges.
  int apart = 0;
  for (int y = 0; y < shown.height(); ++y)
    for (int x = 0; x < shown.width(); ++x) {
      const QRgb a = shown.pixel(x, y), b = picture.pixel(x, y);
      apart += std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                         std::abs(qBlue(a) - qBlue(b))}) > 12;
    }
  EXPECT_EQ(apart, 0);

  // Shown, the window has no frame: its client area is the whole window.
  ShowSplash(s);
  EXPECT_EQ(s.frameGeometry(), s.geometry());
  EXPECT_EQ(s.geometry().size(), QSize(289, 127));
}

TEST_F(SplashTest, TimersAsDesigned) {
  SplashScreen& s = *splash_;
  EXPECT_EQ(s.HoldTimer()->interval(), 4500);
  EXPECT_FALSE(s.HoldTimer()->isActive());
  EXPECT_EQ(s.SlideTimer()->interval(), 1);
  EXPECT_TRUE(s.SlideTimer()->isActive());
}

TEST_F(SplashTest, Timer2TimerSlidesFromMinus200To200InStepsOf10AndStops) {
  SplashScreen& s = *splash_;
  // Wherever the window system put it, activation lifts it above the
  // screen's centre.
  s.move(5, 300);
  s.OnActivated();
  EXPECT_EQ(s.pos(), QPoint(CentredLeft(), -200));
  std::vector<int> tops;
  for (int tick = 0; tick < 40; ++tick) {
    s.OnSlideTimer();
    tops.push_back(s.y());
    EXPECT_EQ(s.x(), CentredLeft());
  }
  EXPECT_EQ(tops, SlideFromMinus200());
  for (int tick = 0; tick < 25; ++tick) {
    s.OnSlideTimer();
    EXPECT_EQ(s.y(), 200);
  }
}

TEST_F(SplashTest, Timer2TimerGoesOnFromWhereTheWindowReallyIs) {
  SplashScreen& s = *splash_;
  // A window manager put the splash elsewhere: the slide continues from
  // there, and a top edge just below 200 still takes one whole step.
  s.move(s.x(), 37);
  s.OnSlideTimer();
  EXPECT_EQ(s.y(), 47);
  s.move(s.x(), 195);
  s.OnSlideTimer();
  EXPECT_EQ(s.y(), 205);
  s.OnSlideTimer();
  EXPECT_EQ(s.y(), 205);
}

TEST_F(SplashTest, ShowSplashActivatesAndPaintsWithoutSliding) {
  SplashScreen& s = *splash_;
  // slideTimer_ falls due before the splash is shown; showing must not run it.
  int ticks = 0;
  QObject::connect(s.SlideTimer(), &QTimer::timeout, &s, [&] { ++ticks; });
  QThread::msleep(20);
  ShowSplash(s);
  EXPECT_EQ(ticks, 0);
  EXPECT_TRUE(s.SlideTimer()->isActive());
  EXPECT_TRUE(s.isVisible());
  ASSERT_NE(s.windowHandle(), nullptr);
  EXPECT_TRUE(s.windowHandle()->isExposed());
  EXPECT_EQ(s.pos(), QPoint(CentredLeft(), -200));
  EXPECT_EQ(s.geometry(), QRect(CentredLeft(), -200, 289, 127));
}

TEST_F(SplashTest, EveryLaterActivationStartsTheSlideOver) {
  SplashScreen& s = *splash_;
  ShowSplash(s);
  s.SlideTimer()->stop();
  for (int tick = 0; tick < 12; ++tick) s.OnSlideTimer();
  QCoreApplication::processEvents();
  EXPECT_EQ(s.y(), -80);
  SendActivation(s);
  EXPECT_EQ(s.pos(), QPoint(CentredLeft(), -200));
}

// Holds back the window system's activation reports, as a window system
// does that reports them only later (or, for a splash, not at all).
class HoldActivation : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    return event->type() == QEvent::WindowActivate;
  }
};

TEST_F(SplashTest, ALateReportOfTheShowsActivationDoesNotStartTheSlideOver) {
  SplashScreen& s = *splash_;
  HoldActivation hold;
  s.installEventFilter(&hold);
  ShowSplash(s);
  s.removeEventFilter(&hold);
  // ShowSplash activated the splash itself.
  EXPECT_EQ(s.pos(), QPoint(CentredLeft(), -200));
  s.SlideTimer()->stop();
  for (int tick = 0; tick < 5; ++tick) s.OnSlideTimer();
  // The report of that activation comes while the splash slides.
  SendActivation(s);
  EXPECT_EQ(s.y(), -150);
  // A further activation is the user's, and starts over.
  SendActivation(s);
  EXPECT_EQ(s.y(), -200);
}

TEST_F(SplashTest, Timer2SlidesTheSplashThroughTheEventLoop) {
  SplashScreen& s = *splash_;
  ShowSplash(s);
  std::vector<int> tops;
  QObject::connect(s.SlideTimer(), &QTimer::timeout, &s, [&] { tops.push_back(s.y()); });
  RunLoopUntil([&] { return tops.size() >= 60; }, 5000);
  ASSERT_GE(tops.size(), 60u);
  const std::vector<int> slide = SlideFromMinus200();
  EXPECT_EQ(std::vector<int>(tops.begin(), tops.begin() + 40), slide);
  for (std::size_t i = 40; i < tops.size(); ++i) EXPECT_EQ(tops[i], 200) << "tick " << i;
  EXPECT_EQ(s.x(), CentredLeft());
}

TEST_F(SplashTest, Timer1FiresOnceAndDisablesItself) {
  SplashScreen& s = *splash_;
  int ticks = 0;
  QObject::connect(s.HoldTimer(), &QTimer::timeout, &s, [&] { ++ticks; });
  s.HoldTimer()->setInterval(20);
  EnableSplashTimer(s);
  EXPECT_TRUE(s.HoldTimer()->isActive());
  RunLoopUntil([] { return false; }, 250);
  EXPECT_EQ(ticks, 1);
  EXPECT_FALSE(s.HoldTimer()->isActive());
}

TEST_F(SplashTest, EnablingTimer1StartsTheFullInterval) {
  SplashScreen& s = *splash_;
  EnableSplashTimer(s);
  EXPECT_TRUE(s.HoldTimer()->isActive());
  EXPECT_EQ(s.HoldTimer()->interval(), 4500);
  EXPECT_GT(s.HoldTimer()->remainingTime(), 4000);
}

TEST_F(SplashTest, TheWaitSlidesTheSplashUntilTimer1TicksThenRemovesIt) {
  SplashScreen& s = *splash_;
  ShowSplash(s);
  s.HoldTimer()->setInterval(600);
  EnableSplashTimer(s);
  QElapsedTimer clock;
  clock.start();
  WaitWhileSplashTimerRuns(s);
  const qint64 waited = clock.elapsed();
  EXPECT_GE(waited, 599);
  EXPECT_LT(waited, 3000);
  ASSERT_FALSE(splash_.isNull());
  EXPECT_EQ(s.y(), 200);
  EXPECT_FALSE(s.HoldTimer()->isActive());
  EXPECT_FALSE(s.SlideTimer()->isActive());
  EXPECT_FALSE(s.isVisible());
  // Deleted once control is back in the event loop.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(splash_.isNull());
}

TEST_F(SplashTest, TheWaitEndsAtOnceWhenTimer1FellDueWhileTheWindowsWereCreated) {
  SplashScreen& s = *splash_;
  ShowSplash(s);
  s.HoldTimer()->setInterval(5);
  EnableSplashTimer(s);
  QThread::msleep(60);  // creating the main windows: no events handled
  QElapsedTimer clock;
  clock.start();
  WaitWhileSplashTimerRuns(s);
  EXPECT_LT(clock.elapsed(), 50);
  // One round of events: at most one step of the slide.
  EXPECT_GE(s.y(), -200);
  EXPECT_LE(s.y(), -190);
  EXPECT_FALSE(s.isVisible());
  EXPECT_FALSE(s.SlideTimer()->isActive());
}

TEST_F(SplashTest, TheWaitEndsAtOnceWhenTimer1IsNotEnabled) {
  SplashScreen& s = *splash_;
  ShowSplash(s);
  QElapsedTimer clock;
  clock.start();
  WaitWhileSplashTimerRuns(s);
  EXPECT_LT(clock.elapsed(), 50);
  EXPECT_FALSE(s.isVisible());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(splash_.isNull());
}

}  // namespace
}  // namespace vz::app
