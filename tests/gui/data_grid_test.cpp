// The data-bound grid over a real table: the main window's configuration
// driven with real keys, mouse clicks and scroll-bar actions; the window
// of rows; the 5-position bar of an indexed table; what is repainted when
// the rows scroll by one; the memo following a click.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPaintEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QWheelEvent>
#include <memory>
#include <random>

#include "app/CheatViews.h"
#include "platform/codepage.h"
#include "tests/gui/PaintLog.h"
#include "tests/support/TableFixture.h"
#include "views/DataGrid.h"
#include "views/DataMemo.h"

namespace vz::views {
namespace {

using test::Cheat;
using test::PaintLog;

std::string Name(int i) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "Game %03d", i);
  return buffer;
}

class GridTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetAll();
    form_ = std::make_unique<QWidget>();
    form_->resize(658, 363);
    grid_ = new DataGrid(form_.get());
    grid_->setGeometry(0, 53, 169, 277);
    memo_ = new DataMemo(form_.get());
    memo_->setGeometry(229, 52, 372, 309);
    next_ = new QLineEdit(form_.get());
    next_->setGeometry(0, 335, 170, 24);
    app::ConfigureCheatNameGrid(*grid_);
    app::ConfigureCheatTextMemo(*memo_);
  }

  void TearDown() override {
    form_.reset();
    table_.reset();
    test::ResetAll();
  }

  // `count` cheats stored in reverse name order, so that record numbers
  // and name order differ: the name order is Game 001, Game 002, ...
  void Open(int count, std::vector<int> deleted = {}) {
    std::vector<Cheat> cheats;
    for (int i = count; i >= 1; --i) {
      Cheat c{Name(i), "Text of " + Name(i)};
      c.deleted = std::find(deleted.begin(), deleted.end(), i) != deleted.end();
      cheats.push_back(c);
    }
    test::WriteCheatTable(dir_.File("pc"), cheats);
    table_ = std::make_unique<DbfTable>();
    test::ConfigureLikeCheatDbf(*table_, "1," + dir_.File("cheat.ndx") + ",CHEATNAME");
    source_.SetDataSet(table_.get());
    table_->SetDbfFileName(dir_.File("pc"));
    grid_->SetDataSource(&source_);
    memo_->SetDataSource(&source_);
    memo_->SetDataField("CHEATMEMO");
    table_->Open();
    table_->First();
  }

  void Show() {
    form_->show();
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }

  std::string Current() { return table_->FieldByName("CHEATNAME")->AsString(); }
  QString MemoText() const { return memo_->toPlainText(); }
  void Key(int key, Qt::KeyboardModifiers m = Qt::NoModifier) {
    QTest::keyClick(grid_, static_cast<Qt::Key>(key), m);
  }
  int Visible() const { return grid_->VisibleRowCount(); }
  QPoint RowCentre(int row) const { return grid_->CellRect(0, row).center(); }

  // The colour a row shows on the screen: what was last painted into the
  // window's backing store (grab() would paint the grid anew instead).
  QColor ScreenColour(int row) {
    QApplication::processEvents();
    const QRect cell = grid_->CellRect(0, row).intersected(grid_->viewport()->rect());
    const QPoint at =
        grid_->viewport()->mapTo(form_.get(), QPoint(cell.right() - 3, cell.center().y()));
    const QImage shot = form_->screen()->grabWindow(form_->winId(), at.x(), at.y(), 1, 1).toImage();
    return shot.isNull() ? QColor() : QColor(shot.pixel(0, 0));
  }
  QColor Highlight() const { return grid_->palette().color(QPalette::Highlight); }

  // Turns the mouse wheel over `target` (the rows or the bar) by `angle`
  // eighths of a degree (120 a notch; positive: away from the user).
  static void Wheel(QWidget* target, int angle) {
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent e(at, target->mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(target, &e);
  }
  int NameNumber() { return std::stoi(Current().substr(5)); }

  test::TempDir dir_;
  std::unique_ptr<DbfTable> table_;
  data::DataSource source_;
  std::unique_ptr<QWidget> form_;
  DataGrid* grid_ = nullptr;
  DataMemo* memo_ = nullptr;
  QLineEdit* next_ = nullptr;
};

// ---------------------------------------------------------------------------
// The main window's configuration

TEST_F(GridTest, MainWindowConfigurationHasNoTitlesIndicatorOrLines) {
  Open(50);
  Show();
  EXPECT_EQ(grid_->TitleOffset(), 0);
  EXPECT_EQ(grid_->IndicatorOffset(), 0);
  EXPECT_EQ(grid_->ColCount(), 1);
  EXPECT_EQ(grid_->FixedCols(), 0);
  EXPECT_EQ(grid_->FixedRows(), 0);
  EXPECT_EQ(grid_->Options() & (goHorzLine | goVertLine | goEditing | goTabs), 0u);
  // As many records as fully visible rows, the first name on top.
  ASSERT_GT(Visible(), 5);
  EXPECT_EQ(grid_->RowCount(), Visible());
  EXPECT_EQ(grid_->DataLink().BufferCount(), Visible());
  EXPECT_EQ(grid_->Row(), 0);
  EXPECT_EQ(Current(), "Game 001");
  EXPECT_EQ(MemoText(), "Text of Game 001");
}

TEST_F(GridTest, MainWindowKeys) {
  Open(50);
  Show();
  grid_->setFocus();
  ASSERT_TRUE(grid_->hasFocus());
  const int page = Visible();

  Key(Qt::Key_End);
  EXPECT_EQ(Current(), "Game 050");
  EXPECT_EQ(grid_->Row(), page - 1);  // the last name on the bottom row
  Key(Qt::Key_Home);
  EXPECT_EQ(Current(), "Game 001");
  EXPECT_EQ(grid_->Row(), 0);

  // Left and Right: one column, nothing to move to.
  Key(Qt::Key_Right);
  Key(Qt::Key_Left);
  EXPECT_EQ(Current(), "Game 001");
  EXPECT_EQ(grid_->Col(), 0);

  Key(Qt::Key_PageDown);
  EXPECT_EQ(Current(), Name(1 + page));
  Key(Qt::Key_PageDown);
  EXPECT_EQ(Current(), Name(1 + 2 * page));
  Key(Qt::Key_PageUp);
  EXPECT_EQ(Current(), Name(1 + page));
  Key(Qt::Key_Down);
  EXPECT_EQ(Current(), Name(2 + page));
  Key(Qt::Key_Up);
  EXPECT_EQ(Current(), Name(1 + page));
  EXPECT_EQ(MemoText(), QString::fromStdString("Text of " + Name(1 + page)));

  // Read-only: Ctrl+Delete and Insert change nothing and ask nothing.
  bool asked = false;
  QTimer::singleShot(0, [&] {
    if (QWidget* box = QApplication::activeModalWidget()) {
      asked = true;
      box->close();
    }
  });
  Key(Qt::Key_Delete, Qt::ControlModifier);
  Key(Qt::Key_Insert);
  QApplication::processEvents();
  EXPECT_FALSE(asked);
  EXPECT_EQ(table_->State(), data::DataSetState::Browse);
  EXPECT_FALSE(table_->RecordDeleted());
  EXPECT_EQ(table_->RecordCount(), 50);
  EXPECT_EQ(Current(), Name(1 + page));

  // Tab leaves the grid for the next control.
  Key(Qt::Key_Tab);
  EXPECT_TRUE(next_->hasFocus());
  EXPECT_EQ(Current(), Name(1 + page));
}

TEST_F(GridTest, FewerRecordsThanRowsAndNoScrollBar) {
  Open(3);
  Show();
  EXPECT_EQ(grid_->RowCount(), 3);
  EXPECT_TRUE(grid_->AllRecordsFit());
  int min, max, page, pos;
  grid_->VScrollInfo(min, max, page, pos);
  EXPECT_EQ(min, 0);
  EXPECT_EQ(max, 0);
  EXPECT_FALSE(grid_->verticalScrollBar()->isVisible());
  grid_->setFocus();
  Key(Qt::Key_Down);
  Key(Qt::Key_Down);
  Key(Qt::Key_Down);
  EXPECT_EQ(Current(), "Game 003");
  EXPECT_EQ(grid_->Row(), 2);
}

TEST_F(GridTest, EmptyTableShowsOneEmptyRow) {
  Open(0);
  Show();
  EXPECT_EQ(grid_->RowCount(), 1);
  EXPECT_TRUE(table_->IsEmpty());
  grid_->setFocus();
  Key(Qt::Key_Down);
  Key(Qt::Key_End);
  Key(Qt::Key_PageDown);
  EXPECT_EQ(grid_->RowCount(), 1);
  EXPECT_EQ(MemoText(), "");
  // The row is painted with the grid colour only.
  const QImage image = grid_->viewport()->grab().toImage();
  const QRect cell = grid_->CellRect(0, 0).intersected(image.rect());
  for (int x = cell.left(); x < cell.right(); x += 3)
    for (int y = cell.top(); y < cell.bottom(); y += 3)
      ASSERT_EQ(QColor(image.pixel(x, y)), grid_->Color()) << x << "," << y;
}

TEST_F(GridTest, DeletedRecordsAreNotListed) {
  Open(20, {1, 2, 7, 20});
  Show();
  EXPECT_EQ(Current(), "Game 003");
  grid_->setFocus();
  Key(Qt::Key_End);
  EXPECT_EQ(Current(), "Game 019");
  Key(Qt::Key_Home);
  for (int i = 0; i < 3; ++i) Key(Qt::Key_Down);
  EXPECT_EQ(Current(), "Game 006");
  Key(Qt::Key_Down);
  EXPECT_EQ(Current(), "Game 008");
}

// ---------------------------------------------------------------------------
// The scroll bar

TEST_F(GridTest, IndexedTableHasTheFivePositionBar) {
  Open(100);
  Show();
  QScrollBar* bar = grid_->verticalScrollBar();
  EXPECT_TRUE(bar->isVisible());
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 4);
  EXPECT_EQ(bar->value(), 0);  // first record
  grid_->setFocus();
  Key(Qt::Key_Down);
  EXPECT_EQ(bar->value(), 2);  // somewhere in between
  Key(Qt::Key_End);
  EXPECT_EQ(bar->value(), 4);  // last record
  Key(Qt::Key_Up);
  EXPECT_EQ(bar->value(), 2);

  // Dragging the thumb to either end goes to the first or last record.
  bar->setSliderDown(true);
  bar->setSliderPosition(0);
  bar->setSliderDown(false);
  EXPECT_EQ(Current(), "Game 001");
  EXPECT_EQ(bar->value(), 0);
  bar->setSliderDown(true);
  bar->setSliderPosition(4);
  bar->setSliderDown(false);
  EXPECT_EQ(Current(), "Game 100");
  EXPECT_EQ(bar->value(), 4);
  EXPECT_EQ(MemoText(), "Text of Game 100");
  // Released on 1 and 3: a page up or down; on 2: nothing.
  bar->setSliderDown(true);
  bar->setSliderPosition(1);
  bar->setSliderDown(false);
  EXPECT_EQ(Current(), Name(100 - Visible()));
  bar->setSliderDown(true);
  bar->setSliderPosition(2);
  bar->setSliderDown(false);
  EXPECT_EQ(Current(), Name(100 - Visible()));
  bar->setSliderDown(true);
  bar->setSliderPosition(3);
  bar->setSliderDown(false);
  EXPECT_EQ(Current(), "Game 100");
}

TEST_F(GridTest, ScrollBarIsWrittenOnlyWhenItChanges) {
  Open(100);
  Show();
  grid_->setFocus();
  Key(Qt::Key_Down);
  const int writes = grid_->VScrollWrites();
  for (int i = 0; i < 5; ++i) Key(Qt::Key_Down);  // stays at position 2
  EXPECT_EQ(grid_->VScrollWrites(), writes);
  Key(Qt::Key_Home);
  EXPECT_EQ(grid_->VScrollWrites(), writes + 1);
}

TEST_F(GridTest, LineDownAndLineUpOnTheBar) {
  Open(100);
  Show();
  const int page = Visible();
  QScrollBar* bar = grid_->verticalScrollBar();
  // From the top row, line down makes the record below the bottom row
  // current.
  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(Current(), Name(page + 1));
  EXPECT_EQ(grid_->Row(), page - 1);
  // Line up makes the record above the top row current.
  bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(Current(), "Game 001");
  EXPECT_EQ(grid_->Row(), 0);
  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(Current(), Name(1 + page));
  EXPECT_EQ(bar->value(), 2);
  bar->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(Current(), "Game 100");
  EXPECT_EQ(bar->value(), 4);
}

// ---------------------------------------------------------------------------
// Mouse

TEST_F(GridTest, ClickingARowMovesTheTableAndTheMemoFollows) {
  Open(40);
  Show();
  QTest::mouseClick(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, RowCentre(4));
  EXPECT_EQ(Current(), "Game 005");
  EXPECT_EQ(grid_->Row(), 4);
  EXPECT_EQ(MemoText(), "Text of Game 005");
  EXPECT_TRUE(grid_->hasFocus());
  // Clicking the current row again changes nothing (read-only: no editor).
  QTest::mouseClick(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, RowCentre(4));
  EXPECT_EQ(Current(), "Game 005");
  EXPECT_FALSE(grid_->EditorShown());
  QTest::mouseClick(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, RowCentre(1));
  EXPECT_EQ(Current(), "Game 002");
  EXPECT_EQ(MemoText(), "Text of Game 002");
  // A click below the last row of a short table does nothing.
}

// The press moves the table under an update lock; the row it lands on
// must be painted highlighted once the lock is gone, and so must a press
// on the current row.
TEST_F(GridTest, AClickedRowIsHighlightedAtOnce) {
  Open(40);
  Show();
  next_->setFocus();  // the first click brings the focus too
  EXPECT_EQ(ScreenColour(0), grid_->Color());
  QTest::mouseClick(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, RowCentre(4));
  ASSERT_EQ(Current(), "Game 005");
  EXPECT_EQ(ScreenColour(4), Highlight());
  EXPECT_EQ(ScreenColour(0), grid_->Color());
  QTest::mouseClick(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, RowCentre(2));
  EXPECT_EQ(ScreenColour(2), Highlight());
  EXPECT_EQ(ScreenColour(4), grid_->Color());
  // Again on the current row: it stays highlighted.
  QTest::mouseClick(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, RowCentre(2));
  EXPECT_EQ(ScreenColour(2), Highlight());
  // After a key the highlight follows as before.
  Key(Qt::Key_Down);
  EXPECT_EQ(ScreenColour(3), Highlight());
  EXPECT_EQ(ScreenColour(2), grid_->Color());
}

// Each notch moves the current record by the desktop's wheel-scroll lines
// as Down or Up would, over the rows and over the bar alike; parts of a
// notch add up; the five-position thumb never decides where to go.
TEST_F(GridTest, TheWheelMovesByTheDesktopsLinesPerNotch) {
  Open(100);
  Show();
  QWidget* rows = grid_->viewport();
  QWidget* bar = grid_->verticalScrollBar();
  for (const int lines : {3, 5}) {
    QApplication::setWheelScrollLines(lines);
    Key(Qt::Key_Home);
    // A fresh start: a notch down moves `lines` records.
    Wheel(rows, -120);
    EXPECT_EQ(NameNumber(), 1 + lines);
    EXPECT_TRUE(grid_->hasFocus());
    // Six quick notches: six times as far, nowhere near the last record.
    for (int i = 0; i < 6; ++i) Wheel(rows, -120);
    EXPECT_EQ(NameNumber(), 1 + 7 * lines);
    EXPECT_EQ(MemoText(), QString::fromStdString("Text of " + Name(1 + 7 * lines)));
    // Up again, over the bar.
    Wheel(bar, 120);
    EXPECT_EQ(NameNumber(), 1 + 6 * lines);
    Wheel(rows, 2 * 120);
    EXPECT_EQ(NameNumber(), 1 + 4 * lines);
    // A high-resolution wheel: eight steps of 15 make one notch, and each
    // row is moved as soon as its share of the turn is complete.
    const int start = NameNumber();
    int moved = 0;
    for (int i = 1; i <= 8; ++i) {
      Wheel(rows, -15);
      moved = NameNumber() - start;
      EXPECT_EQ(moved, 15 * i * lines / 120) << "step " << i;
    }
    EXPECT_EQ(moved, lines);
    // Half a notch one way, then a notch the other way: the half is dropped.
    Wheel(rows, -60);
    const int after = NameNumber();
    Wheel(rows, 120);
    EXPECT_EQ(NameNumber(), after - lines);
  }
  QApplication::setWheelScrollLines(3);
  // At either end the wheel stops there.
  Key(Qt::Key_End);
  Wheel(rows, -120);
  EXPECT_EQ(Current(), "Game 100");
  EXPECT_EQ(table_->RecordCount(), 100);
  Key(Qt::Key_Home);
  Wheel(bar, 120);
  EXPECT_EQ(Current(), "Game 001");
}

// Wherever the current record came from, the thumb of an indexed table is
// at the top exactly on the first record and at the bottom exactly on the
// last: keys, wheel, clicks, the bar and searches in random order, with
// deleted records at both ends.
TEST_F(GridTest, TheThumbFollowsTheRecordShown) {
  Open(60, {1, 2, 60});
  Show();
  grid_->setFocus();
  QScrollBar* bar = grid_->verticalScrollBar();
  auto expected = [&] { return Current() == "Game 003" ? 0 : Current() == "Game 059" ? 4 : 2; };
  // The case that showed it: Home, Down, Up.
  Key(Qt::Key_Home);
  Key(Qt::Key_Down);
  Key(Qt::Key_Up);
  EXPECT_EQ(bar->value(), 0);
  Key(Qt::Key_End);
  Key(Qt::Key_Up);
  Key(Qt::Key_Down);
  EXPECT_EQ(bar->value(), 4);
  std::mt19937 random(13);
  for (int step = 0; step < 400; ++step) {
    const int what = static_cast<int>(random() % 10);
    switch (what) {
      case 0: Key(Qt::Key_Down); break;
      case 1: Key(Qt::Key_Up); break;
      case 2: Key(random() % 2 ? Qt::Key_PageDown : Qt::Key_PageUp); break;
      case 3:
        Key(random() % 4 ? (random() % 2 ? Qt::Key_Down : Qt::Key_Up)
                         : (random() % 2 ? Qt::Key_Home : Qt::Key_End));
        break;
      case 4: Wheel(grid_->viewport(), random() % 2 ? 120 : -120); break;
      case 5: Wheel(grid_->viewport(), random() % 2 ? 40 : -40); break;
      case 6:
        QTest::mouseClick(grid_->viewport(), Qt::LeftButton, Qt::NoModifier,
                          RowCentre(static_cast<int>(random() % Visible())));
        break;
      case 7:
        bar->triggerAction(random() % 2 ? QAbstractSlider::SliderSingleStepAdd
                                        : QAbstractSlider::SliderSingleStepSub);
        break;
      case 8: table_->LocateRec("cheatname", Name(static_cast<int>(random() % 57) + 3)); break;
      default: Key(random() % 2 ? Qt::Key_Up : Qt::Key_Down, Qt::ControlModifier); break;
    }
    ASSERT_EQ(bar->value(), expected()) << "step " << step << " (" << what << ") on " << Current();
  }
}

// The list's one column takes the list's width at every size; a name that
// its cell cuts shows whole as the cell's tooltip, a name that fits shows
// none.
TEST_F(GridTest, TheColumnTakesTheListsWidthAndACutNameIsATooltip) {
  const std::string longName = "Star Wars: Jedi Knight II - Outcast";  // 35 characters
  test::WriteCheatTable(dir_.File("pc"),
                        {{"Short", "a"}, {longName, "b"}, {"Star Wars: Jedi Knight", "c"}});
  table_ = std::make_unique<DbfTable>();
  test::ConfigureLikeCheatDbf(*table_, "1," + dir_.File("cheat.ndx") + ",CHEATNAME");
  source_.SetDataSet(table_.get());
  table_->SetDbfFileName(dir_.File("pc"));
  grid_->SetDataSource(&source_);
  table_->Open();
  table_->First();
  Show();
  // The tooltip the grid shows for a row: a stand-in tip is up before, and
  // the grid either replaces it or hides it.
  auto tipAt = [&](int row) {
    const QPoint at = RowCentre(row);
    const QPoint global = grid_->viewport()->mapToGlobal(at);
    QToolTip::showText(global, QStringLiteral("stand-in"));
    QHelpEvent help(QEvent::ToolTip, at, global);
    QApplication::sendEvent(grid_->viewport(), &help);
    const QString text = QToolTip::text();
    return text == QStringLiteral("stand-in") ? QString() : text;
  };
  for (const int width : {169, 260, 420}) {
    grid_->resize(width, grid_->height());
    QApplication::processEvents();
    EXPECT_EQ(grid_->ColWidth(0), grid_->viewport()->width()) << width;
    const QFontMetrics metrics(grid_->font());
    const bool fits = metrics.horizontalAdvance(QString::fromStdString(longName)) + 2 <=
                      grid_->viewport()->width();
    // Rows in name order: Short, the long name's beginning, the long name.
    EXPECT_EQ(tipAt(0), "") << width;
    EXPECT_EQ(tipAt(1), "") << width;
    EXPECT_EQ(tipAt(2), fits ? QString() : QString::fromStdString(longName)) << width;
  }
  grid_->resize(169, grid_->height());
  QApplication::processEvents();
  EXPECT_EQ(tipAt(2), QString::fromStdString(longName));
  // Where there is no row, no tooltip.
  QToolTip::showText(QPoint(), QStringLiteral("stand-in"));
  QHelpEvent below(QEvent::ToolTip, QPoint(10, grid_->CellRect(0, 2).bottom() + 20), QPoint());
  QApplication::sendEvent(grid_->viewport(), &below);
  EXPECT_EQ(QToolTip::text(), "stand-in");
}

TEST_F(GridTest, ClickBelowTheRowsOfAShortTableChangesNothing) {
  Open(3);
  Show();
  const QRect last = grid_->CellRect(0, 2);
  QTest::mouseClick(grid_->viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(10, last.bottom() + 30));
  EXPECT_EQ(Current(), "Game 001");
}

// ---------------------------------------------------------------------------
// Painting

TEST_F(GridTest, OneRowDownFromTheBottomPaintsOnlyTheNewRow) {
  Open(100);
  Show();
  // Without the focus the current row is not highlighted, so only the row
  // that comes into view needs painting.
  next_->setFocus();
  const int bottom = Visible() - 1;
  QScrollBar* bar = grid_->verticalScrollBar();
  for (int i = 0; i < bottom; ++i) grid_->DataLink().DataSet()->Next();
  ASSERT_EQ(grid_->Row(), bottom);
  QApplication::processEvents();
  const QImage before = grid_->viewport()->grab().toImage();

  PaintLog log;
  grid_->viewport()->installEventFilter(&log);
  grid_->DataLink().DataSet()->Next();
  QApplication::processEvents();
  grid_->viewport()->removeEventFilter(&log);

  EXPECT_EQ(Current(), Name(bottom + 2));
  EXPECT_EQ(grid_->Row(), bottom);
  const QRect newRow = grid_->CellRect(0, bottom);
  ASSERT_GT(log.events, 0);
  // Only the strip of the new bottom row (and what lies below it in the
  // viewport) was painted.
  EXPECT_GE(log.painted.boundingRect().top(), newRow.top())
      << "painted " << log.painted.boundingRect().top();
  EXPECT_TRUE(log.painted.contains(newRow.adjusted(0, 0, -1, -1)));
  // The pixels moved up by one row.
  const QImage after = grid_->viewport()->grab().toImage();
  const int pitch = grid_->RowPitch();
  for (int y = 0; y + pitch < newRow.top(); y += 2)
    for (int x = 0; x < std::min(newRow.width(), after.width()); x += 2)
      ASSERT_EQ(after.pixel(x, y), before.pixel(x, y + pitch)) << x << "," << y;
  (void)bar;
}

TEST_F(GridTest, ScrollingByMoreThanAPageRepaintsEverything) {
  Open(100);
  Show();
  next_->setFocus();
  QApplication::processEvents();
  PaintLog log;
  grid_->viewport()->installEventFilter(&log);
  table_->MoveBy(3 * Visible());
  QApplication::processEvents();
  grid_->viewport()->removeEventFilter(&log);
  EXPECT_TRUE(log.painted.contains(grid_->CellRect(0, 0).adjusted(0, 0, -1, -1)));
}

TEST_F(GridTest, TheCurrentRowIsHighlightedOnlyWithTheFocus) {
  Open(20);
  Show();
  next_->setFocus();
  QApplication::processEvents();
  const QColor highlight = grid_->palette().color(QPalette::Highlight);
  auto rowColour = [&](int row) {
    const QImage image = grid_->viewport()->grab().toImage();
    const QRect r = grid_->CellRect(0, row).intersected(image.rect());
    return QColor(image.pixel(r.right() - 3, r.center().y()));
  };
  EXPECT_EQ(rowColour(0), grid_->Color());
  grid_->setFocus();
  QApplication::processEvents();
  EXPECT_EQ(rowColour(0), highlight);
  EXPECT_EQ(rowColour(1), grid_->Color());
  Key(Qt::Key_Down);
  QApplication::processEvents();
  EXPECT_EQ(rowColour(0), grid_->Color());
  EXPECT_EQ(rowColour(1), highlight);
}

TEST_F(GridTest, TextIsDecodedFromTheTablesCharacterSet) {
  // OEM 0x82 is "é"; the table component hands the grid ANSI text.
  test::WriteCheatTable(dir_.File("pc"), {{"Caf\x82 Racer", "x"}});
  table_ = std::make_unique<DbfTable>();
  test::ConfigureLikeCheatDbf(*table_, "1," + dir_.File("cheat.ndx") + ",CHEATNAME");
  source_.SetDataSet(table_.get());
  table_->SetDbfFileName(dir_.File("pc"));
  grid_->SetDataSource(&source_);
  table_->Open();
  Show();
  data::Field* f = grid_->ColumnField(0);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(QString::fromStdString(platform::AnsiToUtf8(f->DisplayText())),
            QString::fromUtf8("Café Racer"));
}

// ---------------------------------------------------------------------------
// Other configurations

TEST_F(GridTest, FixedColumnsBeyondTheColumnCountFixesThemAll) {
  Open(10);
  grid_->SetGridOptions(kDefaultGridOptions);
  grid_->SetFixedColumns(5);
  Show();
  EXPECT_EQ(grid_->StoredFixedColumns(), 1);  // cut to the one column
  EXPECT_EQ(grid_->FixedColumns(), 1);
  EXPECT_EQ(grid_->FixedCols(), 2);  // the indicator and the data column
  EXPECT_EQ(grid_->ColCount(), 2);
  // With an inactive link the stored value is not applied.
  table_->Close();
  grid_->LayoutNow();
  EXPECT_EQ(grid_->FixedCols(), 1);
}

TEST_F(GridTest, WithTitlesTheFirstDataRowIsCurRowOne) {
  Open(30);
  std::vector<int> rows;
  grid_->OnChangeColorsEvent = [&](DataGrid&, int curRow, RowColorSet& colors) {
    rows.push_back(curRow);
    if (curRow == 2) colors.Cell = Qt::yellow;
  };
  grid_->SetGridOptions(kDefaultGridOptions);
  Show();
  rows.clear();
  grid_->viewport()->repaint();
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(*std::min_element(rows.begin(), rows.end()), 1);
  EXPECT_EQ(grid_->TitleOffset(), 1);
  EXPECT_EQ(grid_->RowCount(), grid_->VisibleRowCount() + 1);
  // The colour set for curRow 2 paints the second record's cell.
  const QImage image = grid_->viewport()->grab().toImage();
  const QRect r = grid_->CellRect(1, 2).intersected(image.rect());
  EXPECT_EQ(QColor(image.pixel(r.right() - 3, r.center().y())), QColor(Qt::yellow));
}

TEST_F(GridTest, DefaultOptionsShowTitleCaptionAndIndicator) {
  Open(10);
  grid_->SetGridOptions(kDefaultGridOptions);
  Show();
  EXPECT_EQ(grid_->IndicatorOffset(), 1);
  EXPECT_EQ(grid_->ColWidth(0), 11);
  EXPECT_EQ(grid_->Columns()[0]->Title().Caption(), "Cheatname");
  grid_->setFocus();
  Key(Qt::Key_Down);
  EXPECT_EQ(grid_->Row(), 2);  // title row + second record
  EXPECT_EQ(Current(), "Game 002");
  // Ctrl+Home / Ctrl+End: first and last record.
  Key(Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(Current(), "Game 010");
  Key(Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(Current(), "Game 001");
}

TEST_F(GridTest, ResizingTheGridChangesTheWindowOfRecords) {
  Open(100);
  Show();
  const int before = Visible();
  grid_->resize(169, 120);
  QApplication::processEvents();
  EXPECT_LT(Visible(), before);
  EXPECT_EQ(grid_->DataLink().BufferCount(), Visible());
  EXPECT_EQ(grid_->RowCount(), Visible());
  EXPECT_EQ(Current(), "Game 001");
}

}  // namespace
}  // namespace vz::views
