// The clickable web link: its colours through press, leave, enter and
// release, what a release inside (edges included) and outside opens, the
// caption opened for an empty URL, and the screen cursor, which never stays
// stacked.
#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>
#include <memory>

#include "app/Application.h"
#include "app/Shell.h"
#include "app/UrlLabel.h"
#include "tests/gui/help_modal.h"

namespace vz::app {
namespace {

using vz::test::UrlCatcher;

const QColor kNormal(0, 128, 0);
const QColor kMoveOver(128, 0, 128);
const QColor kClick(255, 128, 0);

// How many override cursors are stacked.
int OverrideDepth() {
  int depth = 0;
  std::vector<QCursor> popped;
  while (QGuiApplication::overrideCursor()) {
    popped.push_back(*QGuiApplication::overrideCursor());
    QGuiApplication::restoreOverrideCursor();
    ++depth;
  }
  for (auto it = popped.rbegin(); it != popped.rend(); ++it)
    QGuiApplication::setOverrideCursor(*it);
  return depth;
}

class URLLabelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form_ = std::make_unique<QWidget>();
    form_->resize(300, 200);
    label_ = new UrlLabel(form_.get());
    label_->setGeometry(40, 50, 100, 20);
    label_->setText("Homepage");
    label_->SetURL("https://vantu.example.org/cheats");
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
  }
  void TearDown() override {
    SetScreenCursor(Qt::ArrowCursor);
    form_.reset();
    EXPECT_EQ(OverrideDepth(), 0);
  }

  void UseDistinctColours() {
    label_->SetColorNormal(kNormal);
    label_->SetColorMoveOver(kMoveOver);
    label_->SetColorClick(kClick);
  }

  void Enter() {
    QEnterEvent event(QPointF(5, 5), label_->mapTo(form_.get(), QPointF(5, 5)),
                      label_->mapToGlobal(QPointF(5, 5)));
    QApplication::sendEvent(label_, &event);
  }
  void Leave() {
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(label_, &event);
  }
  void Press(QPoint at = QPoint(10, 10), Qt::MouseButton button = Qt::LeftButton) {
    QTest::mousePress(label_, button, {}, at);
  }
  void Release(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
    QTest::mouseRelease(label_, button, {}, at);
  }

  std::unique_ptr<QWidget> form_;
  UrlLabel* label_ = nullptr;
};

TEST_F(URLLabelTest, NewLabel) {
  UrlLabel fresh;
  EXPECT_EQ(fresh.text(), "Click me!");
  EXPECT_EQ(fresh.ColorNormal(), QColor(Qt::blue));
  EXPECT_EQ(fresh.ColorMoveOver(), QColor(Qt::blue));
  EXPECT_EQ(fresh.ColorClick(), QColor(Qt::red));
  EXPECT_EQ(fresh.FontColor(), QColor(Qt::blue));
  EXPECT_TRUE(fresh.font().underline());
  EXPECT_EQ(fresh.URL(), kDefaultLabelURL);
  EXPECT_TRUE(QUrl(fresh.URL()).isValid());
  EXPECT_FALSE(fresh.Pressed());
  EXPECT_TRUE(fresh.hasMouseTracking());
  // Published as properties.
  EXPECT_EQ(fresh.property("ColorClick").value<QColor>(), QColor(Qt::red));
  EXPECT_EQ(fresh.property("URL").toString(), kDefaultLabelURL);
}

TEST_F(URLLabelTest, ColoursAreStoredWithoutRepainting) {
  const QColor before = label_->FontColor();
  UseDistinctColours();
  EXPECT_EQ(label_->FontColor(), before);
  EXPECT_EQ(label_->ColorNormal(), kNormal);
  EXPECT_EQ(label_->ColorMoveOver(), kMoveOver);
  EXPECT_EQ(label_->ColorClick(), kClick);
}

TEST_F(URLLabelTest, PressLeaveEnterReleaseInsideOpensOnce) {
  UseDistinctColours();
  UrlCatcher catcher({"https"});
  Enter();
  EXPECT_EQ(label_->FontColor(), kMoveOver);
  Press();
  EXPECT_TRUE(label_->Pressed());
  EXPECT_EQ(label_->FontColor(), kClick);
  // Leaving with the button held, and coming back: the click colour again.
  Leave();
  EXPECT_EQ(label_->FontColor(), kNormal);
  EXPECT_TRUE(label_->Pressed());
  Enter();
  EXPECT_EQ(label_->FontColor(), kClick);
  EXPECT_TRUE(catcher.opened.empty());

  Release(QPoint(20, 10));
  ASSERT_EQ(catcher.opened.size(), 1u);
  EXPECT_EQ(catcher.opened[0], QUrl("https://vantu.example.org/cheats"));
  EXPECT_FALSE(label_->Pressed());
  EXPECT_EQ(label_->FontColor(), kMoveOver);

  // A release without a press on the label opens nothing.
  Release(QPoint(20, 10));
  EXPECT_EQ(catcher.opened.size(), 1u);
  EXPECT_EQ(label_->FontColor(), kMoveOver);
}

TEST_F(URLLabelTest, ReleaseOutsideOpensNothing) {
  UseDistinctColours();
  UrlCatcher catcher({"https"});
  for (const QPoint outside :
       {QPoint(101, 5), QPoint(5, 21), QPoint(-1, 5), QPoint(5, -1), QPoint(250, 150)}) {
    SCOPED_TRACE(testing::Message() << outside.x() << "," << outside.y());
    Press();
    EXPECT_EQ(label_->FontColor(), kClick);
    Release(outside);
    EXPECT_FALSE(label_->Pressed());
    EXPECT_EQ(label_->FontColor(), kNormal);
  }
  EXPECT_TRUE(catcher.opened.empty());
}

TEST_F(URLLabelTest, ReleaseOnTheEdgesCountsAsInside) {
  UrlCatcher catcher({"https"});
  const QPoint edges[] = {QPoint(0, 0), QPoint(100, 20), QPoint(100, 0), QPoint(0, 20),
                          QPoint(50, 20)};
  for (const QPoint edge : edges) {
    Press();
    Release(edge);
  }
  EXPECT_EQ(catcher.opened.size(), std::size(edges));
}

TEST_F(URLLabelTest, AnyButtonPresses) {
  UseDistinctColours();
  UrlCatcher catcher({"https"});
  Press(QPoint(10, 10), Qt::RightButton);
  EXPECT_TRUE(label_->Pressed());
  EXPECT_EQ(label_->FontColor(), kClick);
  Release(QPoint(10, 10), Qt::RightButton);
  EXPECT_EQ(catcher.opened.size(), 1u);
}

TEST_F(URLLabelTest, EmptyURLOpensTheCaption) {
  UrlCatcher catcher({"https"});
  label_->SetURL("");
  label_->setText("https://skarrow.example.org/from-caption");
  Press();
  Release(QPoint(10, 10));
  ASSERT_EQ(catcher.opened.size(), 1u);
  EXPECT_EQ(catcher.opened[0], QUrl("https://skarrow.example.org/from-caption"));
}

TEST_F(URLLabelTest, HandCursorWhileOverTheLabelNeverStacked) {
  Enter();
  EXPECT_EQ(ScreenCursor(), Qt::PointingHandCursor);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
  Enter();
  Enter();
  EXPECT_EQ(OverrideDepth(), 1);
  Leave();
  EXPECT_EQ(ScreenCursor(), Qt::ArrowCursor);
  EXPECT_EQ(OverrideDepth(), 0);
  Leave();
  EXPECT_EQ(OverrideDepth(), 0);

  // Coming back with the button held shows the click colour but leaves the
  // cursor alone.
  Press();
  Leave();
  Enter();
  EXPECT_EQ(OverrideDepth(), 0);
  Release(QPoint(500, 500));
}

TEST_F(URLLabelTest, MouseMovesAreReported) {
  QSignalSpy moves(label_, &UrlLabel::MouseMove);
  for (const QPoint at : {QPoint(12, 7), QPoint(30, 2)}) {
    QMouseEvent move(QEvent::MouseMove, at, label_->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::ShiftModifier);
    QApplication::sendEvent(label_, &move);
  }
  ASSERT_EQ(moves.count(), 2);
  EXPECT_EQ(moves.at(0).at(1).toInt(), 12);
  EXPECT_EQ(moves.at(0).at(2).toInt(), 7);
  EXPECT_EQ(moves.at(1).at(0).value<Qt::KeyboardModifiers>(), Qt::ShiftModifier);
  EXPECT_EQ(moves.at(1).at(1).toInt(), 30);
}

}  // namespace
}  // namespace vz::app
