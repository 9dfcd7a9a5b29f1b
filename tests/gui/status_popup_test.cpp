// The status window and the index-build progress window on it: size and
// place, the caption mode, the shrinking bar during a real index build, and
// user input held back while the window lets pending events run.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTest>
#include <memory>

#include "index/indexes.h"
#include "platform/files.h"
#include "platform/hooks.h"
#include "table/DbfTable.h"
#include "tests/support/TableFixture.h"
#include "views/StatusPopup.h"

namespace vz::views {
namespace {

std::vector<StatusPopup*> MsgWindows() {
  std::vector<StatusPopup*> out;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* m = qobject_cast<StatusPopup*>(w)) out.push_back(m);
  return out;
}

QSize TextSize(const StatusPopup& msg, const QString& text) {
  const QFontMetrics metrics(msg.font());
  return QSize(metrics.horizontalAdvance(text) + 30, metrics.height() + 30);
}

class MsgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form_ = std::make_unique<QWidget>();
    form_->setGeometry(100, 120, 500, 300);
    form_->show();
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }
  void TearDown() override {
    platform::SetStatusWindowFactory(nullptr);
    form_.reset();
  }
  std::unique_ptr<QWidget> form_;
};

TEST_F(MsgTest, FitsTheTextWithMarginsCentredOverTheWindow) {
  StatusPopup msg(form_.get());
  EXPECT_TRUE(msg.isHidden());
  EXPECT_EQ(msg.size(), QSize(0, 0));
  EXPECT_EQ(msg.RememberedWindow(), form_.get());
  EXPECT_TRUE(msg.windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(msg.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(msg.palette().color(QPalette::Window), QColor(Qt::yellow));

  const QString text = "Reading the cheats of the Sega Dreamcast";
  msg.ShowMessage(text);
  EXPECT_TRUE(msg.isVisible());
  EXPECT_EQ(msg.size(), TextSize(msg, text));
  EXPECT_EQ(msg.geometry().center(), form_->frameGeometry().center());
  EXPECT_TRUE(msg.OuterPanel()->isVisible());
  EXPECT_EQ(msg.OuterPanel()->geometry(), msg.rect());
  EXPECT_EQ(msg.OuterPanel()->lineWidth(), 2);
  EXPECT_EQ(msg.InnerPanel()->geometry(), msg.rect().adjusted(4, 4, -4, -4));
  EXPECT_EQ(msg.InnerPanel()->text(), text);

  // A shorter text keeps the window; a longer one widens and re-centres it.
  const QSize before = msg.size();
  msg.ShowMessage("Short");
  EXPECT_EQ(msg.size(), before);
  EXPECT_EQ(msg.InnerPanel()->text(), "Short");
  const QString longer = text + text;
  msg.ShowMessage(longer);
  EXPECT_EQ(msg.size(), TextSize(msg, longer));
  EXPECT_EQ(msg.geometry().center(), form_->frameGeometry().center());
  // No text given: the previous one again.
  msg.InnerPanel()->clear();
  msg.ShowMessage();
  EXPECT_EQ(msg.InnerPanel()->text(), longer);
  EXPECT_EQ(msg.Text(), longer);
}

TEST_F(MsgTest, RemembersTheActiveWindowOrUsesTheScreen) {
  StatusPopup overActive;
  EXPECT_EQ(overActive.RememberedWindow(), form_.get());
  form_.reset();
  ASSERT_EQ(QApplication::activeWindow(), nullptr);
  StatusPopup overScreen;
  EXPECT_EQ(overScreen.RememberedWindow(), nullptr);
  overScreen.ShowMessage("Centred on the screen");
  EXPECT_EQ(overScreen.geometry().center(),
            QGuiApplication::primaryScreen()->availableGeometry().center());
}

TEST_F(MsgTest, WithACaptionItIsADialogWideEnoughForIt) {
  StatusPopup msg(form_.get());
  const QString caption = "Indexing a very long index file name for the catalogue.ndx...";
  msg.SetCaption(caption);
  msg.ShowMessage("||");
  EXPECT_TRUE(msg.isVisible());
  EXPECT_FALSE(msg.windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(msg.windowFlags().testFlag(Qt::WindowTitleHint));
  EXPECT_TRUE(msg.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(msg.windowTitle(), caption);
  EXPECT_FALSE(msg.OuterPanel()->isVisible());
  EXPECT_EQ(msg.InnerPanel()->geometry(), msg.rect());
  const QFontMetrics title(QFontDatabase::systemFont(QFontDatabase::TitleFont));
  EXPECT_EQ(msg.width(), title.horizontalAdvance(caption) + 30);
  EXPECT_EQ(msg.height(), TextSize(msg, "||").height());
  EXPECT_EQ(msg.frameGeometry().center(), form_->frameGeometry().center());

  // Back to no caption: borderless again, the outer panel shows.
  msg.SetCaption("");
  msg.ShowMessage("plain");
  EXPECT_TRUE(msg.windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(msg.OuterPanel()->isVisible());
  EXPECT_EQ(msg.size(), TextSize(msg, "plain"));
  EXPECT_EQ(msg.InnerPanel()->geometry(), msg.rect().adjusted(4, 4, -4, -4));
}

TEST_F(MsgTest, ProgressWindowShrinksItsBarWithEachStep) {
  EXPECT_EQ(platform::CreateStatusWindow("x"), nullptr);
  InstallStatusWindows();
  {
    IndexBuildProgress progress("Indexing caf\xE9.ndx...");
    const std::vector<StatusPopup*> windows = MsgWindows();
    ASSERT_EQ(windows.size(), 1u);
    StatusPopup* msg = windows.front();
    EXPECT_TRUE(msg->isVisible());
    EXPECT_EQ(msg->Caption(), QString::fromUtf8("Indexing caf\u00e9.ndx..."));
    EXPECT_TRUE(msg->HoldsBackInput());
    EXPECT_EQ(msg->InnerPanel()->text(), QString(100, '|'));
    const QSize size = msg->size();
    for (int i = 1; i <= 100; ++i) {
      progress.Step();
      ASSERT_EQ(msg->InnerPanel()->text(), QString(100 - i, '|'));
    }
    progress.Step();
    EXPECT_EQ(msg->InnerPanel()->text(), "");
    EXPECT_EQ(msg->size(), size);
  }
  EXPECT_TRUE(MsgWindows().empty());
}

TEST_F(MsgTest, AnIndexBuildShowsItsProgress) {
  test::ResetAll();
  test::TempDir dir;
  std::vector<test::Cheat> cheats;
  for (int i = 0; i < 500; ++i) cheats.push_back({"Game " + std::to_string(1000 - i), "text"});
  test::WriteCheatTable(dir.File("pc"), cheats);

  std::vector<std::string> captions;
  std::vector<int> bars;
  struct Recording : platform::StatusWindow {
    std::unique_ptr<platform::StatusWindow> real;
    std::vector<int>* bars;
    void ShowMessage(const std::string& text) override {
      real->ShowMessage(text);
      const std::vector<StatusPopup*> windows = MsgWindows();
      bars->push_back(windows.size() == 1
                          ? static_cast<int>(windows.front()->InnerPanel()->text().size())
                          : -1);
    }
  };
  platform::SetStatusWindowFactory(
      [&](const std::string& caption) -> std::unique_ptr<platform::StatusWindow> {
        captions.push_back(caption);
        auto w = std::make_unique<Recording>();
        w->real = CreateQtStatusWindow(caption);
        w->bars = &bars;
        return w;
      });
  {
    DbfTable t;
    test::ConfigureLikeCheatDbf(t, "1," + dir.File("cheat.ndx") + ",CHEATNAME");
    t.ShowProgress = true;
    t.SetDbfFileName(dir.File("pc"));
    t.Open();
    EXPECT_TRUE(platform::FileExists(dir.File("cheat.ndx")));
    t.First();
    EXPECT_EQ(t.FieldByName("cheatname")->AsString(), "Game 1000");
  }
  ASSERT_EQ(captions, std::vector<std::string>{"Indexing " + dir.File("cheat.ndx") + "..."});
  ASSERT_EQ(bars.size(), 101u);
  for (std::size_t i = 0; i < bars.size(); ++i) EXPECT_EQ(bars[i], 100 - static_cast<int>(i));
  EXPECT_TRUE(MsgWindows().empty());
  test::ResetAll();
}

// An object that counts its timer events.
class Ticker : public QObject {
 public:
  int ticks = 0;

 protected:
  void timerEvent(QTimerEvent* event) override {
    ++ticks;
    killTimer(event->timerId());
  }
};

TEST_F(MsgTest, UserInputWaitsWhileTheProgressWindowProcessesEvents) {
  auto* edit = new QLineEdit(form_.get());
  edit->show();
  edit->setFocus();
  QCoreApplication::postEvent(edit,
                              new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a"));
  QCoreApplication::postEvent(edit,
                              new QKeyEvent(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, "a"));
  Ticker ticker;
  ticker.startTimer(0);

  std::unique_ptr<platform::StatusWindow> window = CreateQtStatusWindow("Indexing pc.ndx...");
  ASSERT_NE(window, nullptr);
  window->ShowMessage(std::string(100, '|'));
  EXPECT_EQ(ticker.ticks, 1);
  EXPECT_EQ(edit->text(), "");
  window->ShowMessage(std::string(99, '|'));
  EXPECT_EQ(edit->text(), "");

  // Once the window has done its processing, the input arrives.
  window.reset();
  QCoreApplication::processEvents();
  EXPECT_EQ(edit->text(), "a");

  // A plain status window lets everything run.
  QCoreApplication::postEvent(edit,
                              new QKeyEvent(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, "b"));
  StatusPopup plain(form_.get());
  plain.ShowMessage("working");
  EXPECT_EQ(edit->text(), "ab");
}

}  // namespace
}  // namespace vz::views
