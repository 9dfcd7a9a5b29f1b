// The reader's Find in texts, driven through its widgets with real keys:
// the find bar, the next and previous cheat in name order, wrapping with
// its note, accents and letter case, the words marked in the text, a
// search that finds nothing, the progress window cancelled with Escape, and
// the name search box beside it.

#include <QApplication>
#include <QProgressDialog>
#include <QStatusBar>
#include <QTextEdit>
#include <QTimer>
#include <memory>

#include "app/ReleaseInfoDialog.h"
#include "app/WebLinksDialog.h"
#include "tests/gui/ReaderTestBase.h"
#include "views/DataGrid.h"
#include "views/DataMemo.h"

namespace vz::app {
namespace {

using test::Cheat;

class FindInTextsTest : public ReaderTestBase {
 protected:
  void CloseForms() override { form_.reset(); }

  MainWindow& Start() {
    form_ = std::make_unique<MainWindow>(programDir_);
    form_->show();
    form_->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(form_.get()));
    return *form_;
  }

  std::string Current() const {
    std::string name = form_->CheatTable()->FieldByName("CHEATNAME")->AsString();
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name;
  }
  QString Note() const { return form_->statusBar()->currentMessage(); }
  // The words marked in the cheat text.
  QStringList Marked() const {
    QStringList out;
    for (const QTextEdit::ExtraSelection& s : form_->TextMemo()->extraSelections())
      out << s.cursor.selectedText();
    return out;
  }
  void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget();
    QTest::keyClick(target ? target : form_.get(), static_cast<Qt::Key>(key), modifiers);
  }
  void FindWords(const QString& words) {
    Key(Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(form_->FindBar()->isVisible());
    ASSERT_EQ(QApplication::focusWidget(), form_->FindBox());
    QTest::keyClicks(form_->FindBox(), words);
    Key(Qt::Key_Return);
  }

  std::unique_ptr<MainWindow> form_;
};

TEST_F(FindInTextsTest, NextAndPreviousInNameOrderWrapMarkAndKeepThePlace) {
  // Record order is not name order: Alpha 2, Beta 4, Mario 3, Omega 5, Zelda 1.
  test::WriteCheatTable(
      programDir_ + "pc",
      {
          {"Zelda code", "Press START at the title screen"},
          {"Alpha mode", "Hold L1 and enter the caf\x82 code"},  // OEM 437: e acute
          {"Mario lives", "Infinite lives: press Start twice"},
          {"Beta secret", "Nothing to see here"},
          {"Omega", "start the CAFE music\r\nthen hold start"},
          {"Gone", "start but deleted", true},
      });
  MainWindow& f = Start();
  ASSERT_EQ(Current(), "Alpha mode");
  EXPECT_FALSE(f.FindBar()->isVisible());

  FindWords("start");
  EXPECT_EQ(Current(), "Mario lives");
  EXPECT_EQ(Note(), QString());
  EXPECT_EQ(Marked(), QStringList{"Start"});
  Key(Qt::Key_F3);
  EXPECT_EQ(Current(), "Omega");
  EXPECT_EQ(Marked(), (QStringList{"start", "start"}));
  Key(Qt::Key_F3);
  EXPECT_EQ(Current(), "Zelda code");
  // Past the end: on from the top (the deleted record never shows).
  Key(Qt::Key_F3);
  EXPECT_EQ(Current(), "Mario lives");
  EXPECT_EQ(Note(), QString::fromLatin1(MainWindow::kWrappedForward));
  Key(Qt::Key_F3, Qt::ShiftModifier);
  EXPECT_EQ(Current(), "Zelda code");
  EXPECT_EQ(Note(), QString::fromLatin1(MainWindow::kWrappedBackward));
  Key(Qt::Key_F3, Qt::ShiftModifier);
  EXPECT_EQ(Current(), "Omega");
  EXPECT_EQ(Note(), QString());

  // Every word, accents and letter case not counting; the words are marked.
  f.FindBox()->clear();
  FindWords(QString::fromUtf8("CAFÉ code"));
  EXPECT_EQ(Current(), "Alpha mode");
  EXPECT_EQ(Marked(), (QStringList{QString::fromUtf8("café"), "code"}));

  // Nothing found: the place is kept and the status area says so.
  f.FindBox()->clear();
  FindWords("start nothing");
  EXPECT_EQ(Current(), "Alpha mode");
  EXPECT_EQ(Note(), QString::fromLatin1(MainWindow::kNothingFound));
  EXPECT_EQ(f.TextMemo()->toPlainText(), QString::fromUtf8("Hold L1 and enter the café code"));

  // Escape closes the bar and the marks go; the name search box is as it was.
  Key(Qt::Key_Escape);
  EXPECT_FALSE(f.FindBar()->isVisible());
  EXPECT_TRUE(Marked().isEmpty());
  EXPECT_EQ(f.SearchBox()->text(), QString());
  f.SearchBox()->setFocus();
  QTest::keyClicks(f.SearchBox(), "Be");
  EXPECT_EQ(Current(), "Beta secret");
  QTest::keyClicks(f.SearchBox(), "x");
  EXPECT_EQ(Current(), "Beta secret");
  // F3 with the bar closed opens it again with its words.
  Key(Qt::Key_F3);
  EXPECT_TRUE(f.FindBar()->isVisible());
  EXPECT_EQ(f.FindBox()->text(), "start nothing");
}

TEST_F(FindInTextsTest, ALongSearchShowsItsProgressAndEscapeCancelsIt) {
  std::vector<Cheat> cheats;
  for (int i = 0; i < 30000; ++i) {
    char name[40];
    std::snprintf(name, sizeof name, "Cheat %05d", i);
    cheats.push_back({name, "Nothing to find in this text, line after line of it"});
  }
  test::WriteCheatTable(programDir_ + "pc", cheats);
  MainWindow& f = Start();
  f.FindProgressDelayMs = 0;
  f.NameGrid()->setFocus();
  Key(Qt::Key_Down);
  Key(Qt::Key_Down);
  const std::string before = Current();
  ASSERT_EQ(before, "Cheat 00002");
  // Escape as soon as the progress window shows.
  QString seen;
  QTimer escape;
  escape.setInterval(0);
  QObject::connect(&escape, &QTimer::timeout, [&] {
    QWidget* w = QApplication::activeModalWidget();
    if (auto* dialog = qobject_cast<QProgressDialog*>(w)) {
      seen = dialog->objectName() + ": " + dialog->labelText();
      QTest::keyClick(dialog, Qt::Key_Escape);
    }
  });
  escape.start();
  FindWords("treasure");
  escape.stop();
  EXPECT_EQ(seen, "FindProgress1: Searching the cheat texts...");
  EXPECT_EQ(Note().toStdString(), MainWindow::kSearchCancelled);
  EXPECT_EQ(Current(), before);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  // Without Escape the same search runs to its end and finds nothing (the
  // window has the keyboard again, as the desktop gives it back).
  form_->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  Key(Qt::Key_F3);
  EXPECT_EQ(Note().toStdString(), MainWindow::kNothingFound);
  EXPECT_EQ(Current(), before);
}

}  // namespace
}  // namespace vz::app
