// The splash window: a borderless picture shown while the reader starts.
// It appears with its top edge above the screen and slides down until its
// top edge is at 200 pixels; it stays at least holdTimer_'s 4.5 seconds, or
// until the main windows have been created if that takes longer.
//
// Start-up uses it in this order:
//
//   auto* splash = new SplashScreen(version);
//   ShowSplash(*splash);             // shown, activated (top edge -200), painted
//   EnableSplashTimer(*splash);      // the 4.5 seconds start
//   ... create the main windows (no events are handled meanwhile) ...
//   WaitWhileSplashTimerRuns(*splash);  // slides, then hides and deletes it
//   return app.exec();
#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QTimer;

namespace vz::app {

class SplashScreen : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 289;
  static constexpr int kClientHeight = 127;
  // Where OnActivated puts the top edge, and where the slide stops.
  static constexpr int kStartTop = -200;
  static constexpr int kFinalTop = 200;
  static constexpr int kStep = 10;

  // A top-level window without border or border icons, 289 x 127, centred
  // on the primary screen; `version` is written on its picture. The window
  // is not shown yet; slideTimer_ is already enabled, holdTimer_ not.
  explicit SplashScreen(const QString& version = QString(), QWidget* parent = nullptr);

 private:
  QLabel* picture_;
  // Fires once: the end of the time the splash stays up.
  QTimer* holdTimer_;
  // Every millisecond: one step of the slide.
  QTimer* slideTimer_;

 public:
  // The components, for the window's users and tests.
  QLabel* Picture() const { return picture_; }
  QTimer* HoldTimer() const { return holdTimer_; }
  QTimer* SlideTimer() const { return slideTimer_; }

  // holdTimer_'s tick: disables holdTimer_.
  void OnHoldTimer();
  // slideTimer_'s tick: a top edge less than kFinalTop moves down by kStep
  // (from wherever it is); at kFinalTop or below, nothing happens.
  void OnSlideTimer();
  // The splash's activation: top edge to kStartTop, horizontal position
  // centred on the screen.
  void OnActivated();

  // OnActivated runs whenever the window system activates the splash
  // (the user may click it after working in another program). The
  // activation that goes with showing it is taken by ShowSplash at once, as
  // window systems report it later or, for a splash, not at all; when that
  // report comes it is not run again, so the slide is not started over. (A
  // window system that never reports it lets the user's first activation
  // pass unheeded.)

 protected:
  bool event(QEvent* event) override;

 private:
  // The horizontal position that centres the window on its screen.
  int CentredLeft() const;

  friend void ShowSplash(SplashScreen& splash);

  // ShowSplash ran OnActivated for the activation of showing the splash,
  // and the window system has not reported that activation yet.
  bool showActivationTaken_ = false;
};

// Shows the splash, activates it (OnActivated: top edge -200) and paints
// it at once: handles the window system's pending reports and paints, but
// no timer of the splash, so the slide has not begun on return. (Showing a
// splash window before the event loop runs, Qt itself handles the events
// pending then: at start-up there are none but the splash's.)
void ShowSplash(SplashScreen& splash);

// Enables holdTimer_ (4.5 seconds from now).
void EnableSplashTimer(SplashScreen& splash);

// Handles every pending event, round after round, while holdTimer_ is enabled:
// slideTimer_ slides the splash meanwhile, and holdTimer_'s first tick ends the wait
// (at once when it fell due while no events were handled). Then disables
// slideTimer_, hides the splash and deletes it when control returns to the event
// loop; `splash` must have been made with new.
void WaitWhileSplashTimerRuns(SplashScreen& splash);

}  // namespace vz::app
