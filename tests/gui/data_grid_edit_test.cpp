// The data-bound grid over a writable table, driven with real keys and
// mouse events: the in-place editor (text, length limit, date masks),
// deleting and restoring, inserting and appending, logical fields, Tab
// between columns, the other navigation keys, mouse clicks on titles,
// corners, the indicator and cells, column sizing and moving, the layout
// pass and its locks, repaints after notifications, the drawing events, row
// colours, and the scroll bar of a table without an index.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/dates.h"
#include "engine/trim.h"
#include "platform/codepage.h"
#include "tests/gui/PaintLog.h"
#include "tests/support/DateTexts.h"
#include "tests/support/DbtBuilder.h"
#include "tests/support/TableFixture.h"
#include "views/DataGrid.h"

namespace vz::views {
namespace {

using test::PaintLog;

// Counts the events of the program's own types (at or above QEvent::User)
// that reach an object.
class UserEventLog : public QObject {
 public:
  int count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() >= QEvent::User && e->type() <= QEvent::MaxUser) ++count;
    return false;
  }
};

// What a confirmation box asked, and how it was answered.
struct BoxSeen {
  bool asked = false;
  QString text;
  QMessageBox::StandardButtons buttons;
};

std::string Name(int i) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "Game %03d", i);
  return buffer;
}

// Field layout of the games table, as stored: the deleted flag, then NAME
// C 10, PRICE N 8.2, BORN D, OK L, NOTE M.
constexpr int kNameAt = 1, kNameLen = 10, kPriceAt = 11, kBornAt = 19, kOkAt = 27;
// Data columns of the default columns.
constexpr int kName = 0, kPrice = 1, kBorn = 2, kOk = 3, kNote = 4;

QString Q(const std::string& ansi) {
  return QString::fromStdString(platform::AnsiToUtf8(ansi));
}

class GridEditFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetAll();
    form_ = std::make_unique<QWidget>();
    form_->resize(660, 420);
    grid_ = new DataGrid(form_.get());
    grid_->setGeometry(0, 0, 620, 300);
    next_ = new QLineEdit(form_.get());
    next_->setGeometry(0, 330, 200, 24);
  }

  void TearDown() override {
    form_.reset();
    table_.reset();
    test::ResetAll();
  }

  // Game i: named "Game 00i", costs i.50, born on 2024-02-(i % 28 + 1), OK
  // for odd i, with the note "Note i".
  void WriteGames(int count, const std::vector<int>& deleted = {}) {
    test::DbtBuilder memo(false);
    test::DbfBuilder b;
    b.Version(0x83)
        .Field("NAME", 'C', kNameLen)
        .Field("PRICE", 'N', 8, 2)
        .Field("BORN", 'D', 8)
        .Field("OK", 'L', 1)
        .Field("NOTE", 'M', 10);
    for (int i = 1; i <= count; ++i) {
      char born[16];
      std::snprintf(born, sizeof born, "202402%02d", i % 28 + 1);
      const bool gone = std::find(deleted.begin(), deleted.end(), i) != deleted.end();
      b.Record({Name(i), std::to_string(i) + ".50", born, i % 2 ? "T" : "F",
                test::MemoField(memo.Add("Note " + std::to_string(i)))},
               gone);
    }
    b.Write(dir_.File("games.dbf"));
    memo.Write(dir_.File("games.dbt"));
  }

  // Opens the games table for writing, without an index (record order).
  void Open(int count, const std::vector<int>& deleted = {}, bool hideDeleted = false,
            bool readOnly = false) {
    WriteGames(count, deleted);
    table_ = std::make_unique<DbfTable>();
    table_->SetName("Games");
    table_->ReadOnly = readOnly;
    table_->SetExclusive(!readOnly);
    table_->HideDeletedRecs = hideDeleted;
    table_->ShowProgress = false;
    table_->CreateIfNotFound = false;
    source_.SetDataSet(table_.get());
    table_->SetDbfFileName(dir_.File("games"));
    grid_->SetDataSource(&source_);
    table_->Open();
    table_->First();
  }

  void Show() {
    form_->show();
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
    grid_->setFocus();
    QApplication::processEvents();
  }

  // The bytes of stored record r (1-based), the deleted flag first.
  std::string Stored(int r) {
    const test::Bytes b = test::ReadFile(dir_.File("games.dbf"));
    const std::size_t header = b[8] | (b[9] << 8);
    const std::size_t length = b[10] | (b[11] << 8);
    const std::size_t at = header + static_cast<std::size_t>(r - 1) * length;
    if (b.size() < at + length) return std::string();
    return std::string(b.begin() + static_cast<std::ptrdiff_t>(at),
                       b.begin() + static_cast<std::ptrdiff_t>(at + length));
  }
  std::string StoredName(int r) { return Stored(r).substr(kNameAt, kNameLen); }
  // Records in the file (whatever its header says until it is closed).
  int StoredCount() {
    const test::Bytes b = test::ReadFile(dir_.File("games.dbf"));
    const std::size_t header = b[8] | (b[9] << 8);
    const std::size_t length = b[10] | (b[11] << 8);
    return static_cast<int>((b.size() - header) / length);
  }

  data::Field* F(const std::string& name) { return table_->FieldByName(name); }
  std::string Current() { return table_->FieldByName("NAME")->AsString(); }
  data::DataSetState State() { return table_->State(); }

  // Keys go where a user's keys go: to the widget with the focus.
  QWidget* Target() {
    QWidget* w = QApplication::focusWidget();
    return w ? w : grid_;
  }
  void Key(int key, Qt::KeyboardModifiers m = Qt::NoModifier) {
    QTest::keyClick(Target(), static_cast<Qt::Key>(key), m);
  }
  // One key at a time, each to the widget that has the focus by then.
  void Type(const QString& text) {
    for (const QChar c : text) QTest::keyClick(Target(), c.toLatin1());
  }

  QPoint CellCentre(int col, int row) const { return grid_->CellRect(col, row).center(); }
  void Click(int col, int row, Qt::MouseButton b = Qt::LeftButton) {
    QTest::mouseClick(grid_->viewport(), b, Qt::NoModifier, CellCentre(col, row));
  }
  void Press(const QPoint& p, Qt::MouseButton b = Qt::LeftButton) {
    QTest::mousePress(grid_->viewport(), b, Qt::NoModifier, p);
  }
  void Release(const QPoint& p, Qt::MouseButton b = Qt::LeftButton) {
    QTest::mouseRelease(grid_->viewport(), b, Qt::NoModifier, p);
  }
  void Move(const QPoint& p) {
    QMouseEvent e(QEvent::MouseMove, p, grid_->viewport()->mapToGlobal(p), Qt::NoButton,
                  Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(grid_->viewport(), &e);
  }

  // The grid's pixels as painted from scratch.
  QImage Grab() { return grid_->viewport()->grab().toImage(); }
  // The grid's pixels as they stand on the screen (only what was repainted
  // since is new).
  QImage Screen() {
    QApplication::processEvents();
    const QPoint at = grid_->viewport()->mapTo(form_.get(), QPoint(0, 0));
    const QPixmap whole = form_->screen()->grabWindow(form_->winId());
    return whole.copy(QRect(at, grid_->viewport()->size())).toImage();
  }
  static QColor Pixel(const QImage& image, const QPoint& p) { return QColor(image.pixel(p)); }
  // A colour as a pixel holds it (8 bits a component).
  static QColor Rgb(const QColor& c) { return QColor(c.rgb()); }
  // A point inside a data cell away from its text (right part, middle).
  QPoint Blank(int col, int row) const {
    const QRect r = grid_->CellRect(col, row);
    return QPoint(r.right() - 3, r.center().y());
  }

  // Answers the next confirmation box with `answer`, noting what it asked.
  static void Answer(QMessageBox::StandardButton answer, BoxSeen& seen) {
    QTimer::singleShot(0, [answer, &seen] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      seen.asked = true;
      seen.text = box->text();
      seen.buttons = box->standardButtons();
      box->button(answer)->click();
    });
  }

  // Persistent columns bound to the named fields.
  void PersistentColumns(const std::vector<std::string>& names) {
    grid_->BeginLayout();
    grid_->Columns().Clear();
    for (const std::string& n : names) grid_->Columns().Add()->SetFieldName(n);
    grid_->EndLayout();
  }

  test::TempDir dir_;
  std::unique_ptr<DbfTable> table_;
  data::DataSource source_;
  std::unique_ptr<QWidget> form_;
  DataGrid* grid_ = nullptr;
  QLineEdit* next_ = nullptr;
};

// ---------------------------------------------------------------------------
// The in-place editor

class GridEditorTest : public GridEditFixture {};

TEST_F(GridEditorTest, F2AndAClickOnTheCurrentCellShowTheFieldsEditText) {
  Open(5);
  Show();
  ASSERT_EQ(grid_->SelectedIndex(), kName);
  Key(Qt::Key_F2);
  ASSERT_TRUE(grid_->EditorShown());
  EXPECT_EQ(grid_->Editor()->text(), "Game 001");
  EXPECT_TRUE(grid_->Editor()->hasFocus());
  EXPECT_EQ(grid_->Editor()->geometry(), grid_->CellRect(1, 1));
  // Showing the editor changes nothing yet.
  EXPECT_EQ(State(), data::DataSetState::Browse);
  Key(Qt::Key_Escape);
  EXPECT_FALSE(grid_->EditorShown());
  EXPECT_TRUE(grid_->hasFocus());

  // The price column shows the price's edit text; a click on the current
  // cell shows the editor as F2 does.
  Key(Qt::Key_Right);
  ASSERT_EQ(grid_->SelectedIndex(), kPrice);
  Click(2, 1);
  ASSERT_TRUE(grid_->EditorShown());
  EXPECT_EQ(grid_->Editor()->text(), Q(F("PRICE")->EditText()));
  EXPECT_EQ(grid_->Editor()->text(), "1.5");
  // A click on another row moves the table there and hides the editor.
  Click(2, 3);
  EXPECT_FALSE(grid_->EditorShown());
  EXPECT_EQ(Current(), "Game 003");
  EXPECT_EQ(grid_->SelectedIndex(), kPrice);
}

TEST_F(GridEditorTest, TypingStartsAnEditAndEnterWritesTheField) {
  Open(5);
  Show();
  const QImage browsing = Grab().copy(grid_->CellRect(0, 1));
  Key(Qt::Key_F2);
  Key(Qt::Key_End);
  Type("X");
  // The typed letter stays in the editor while the table goes into edit
  // state.
  EXPECT_EQ(grid_->Editor()->text(), "Game 001X");
  EXPECT_EQ(State(), data::DataSetState::Edit);
  // The field is not written before Enter.
  EXPECT_EQ(Current(), "Game 001");
  // The indicator shows the editing picture.
  const QImage editing = Grab().copy(grid_->CellRect(0, 1));
  EXPECT_NE(editing, browsing);

  Type("Y");
  EXPECT_EQ(grid_->Editor()->text(), "Game 001XY");
  Key(Qt::Key_Return);
  EXPECT_EQ(Current(), "Game 001XY");
  EXPECT_EQ(State(), data::DataSetState::Edit);
  EXPECT_FALSE(grid_->EditorShown());
  EXPECT_EQ(StoredName(1), "Game 001  ");  // not posted yet
  // Moving to another record posts it.
  Key(Qt::Key_Down);
  EXPECT_EQ(State(), data::DataSetState::Browse);
  EXPECT_EQ(StoredName(1), "Game 001XY");
  EXPECT_EQ(Current(), "Game 002");
  // Enter on a cell without the editor shows it.
  Key(Qt::Key_Return);
  EXPECT_TRUE(grid_->EditorShown());
  EXPECT_EQ(grid_->Editor()->text(), "Game 002");
}

TEST_F(GridEditorTest, TextPutIntoTheEditorOtherwiseStaysAsWell) {
  Open(5);
  Show();
  Key(Qt::Key_F2);
  grid_->Editor()->end(false);
  grid_->Editor()->insert("Z");  // as a paste from the editor's menu does
  EXPECT_EQ(grid_->Editor()->text(), "Game 001Z");
  EXPECT_EQ(State(), data::DataSetState::Edit);
  Key(Qt::Key_Return);
  EXPECT_EQ(Current(), "Game 001Z");
  // A read-only grid takes nothing that way.
  Key(Qt::Key_Escape);
  grid_->SetReadOnly(true);
  grid_->SetReadOnly(false);
  ASSERT_EQ(State(), data::DataSetState::Browse);
  Key(Qt::Key_F2);
  source_.AutoEdit = false;
  grid_->Editor()->insert("Q");
  EXPECT_EQ(grid_->Editor()->text(), "Game 001");
  EXPECT_EQ(State(), data::DataSetState::Browse);
  Type("W");
  EXPECT_EQ(grid_->Editor()->text(), "Game 001");
  source_.AutoEdit = true;
}

TEST_F(GridEditorTest, TypingOnTheGridStartsTheEditorWithThatKey) {
  Open(5);
  Show();
  Key(Qt::Key_Down);
  Type("Zap");
  ASSERT_TRUE(grid_->EditorShown());
  EXPECT_EQ(grid_->Editor()->text(), "Zap");
  EXPECT_EQ(State(), data::DataSetState::Edit);
  Key(Qt::Key_Up);  // writes and posts, then moves
  EXPECT_EQ(StoredName(2), "Zap       ");
  EXPECT_EQ(Current(), "Game 001");
}

TEST_F(GridEditorTest, EscapeDiscardsThePendingEditThenCancelsTheTablesEdit) {
  Open(5);
  Show();
  Key(Qt::Key_F2);
  Key(Qt::Key_End);
  Type("Q");
  ASSERT_EQ(State(), data::DataSetState::Edit);
  // First Escape: the typed text is gone, the table still edits.
  Key(Qt::Key_Escape);
  EXPECT_FALSE(grid_->EditorShown());
  EXPECT_EQ(State(), data::DataSetState::Edit);
  EXPECT_EQ(Current(), "Game 001");
  Key(Qt::Key_F2);
  EXPECT_EQ(grid_->Editor()->text(), "Game 001");
  // The next Escape, nothing pending: the table's edit is cancelled.
  Key(Qt::Key_Escape);
  EXPECT_EQ(State(), data::DataSetState::Browse);
  EXPECT_FALSE(grid_->EditorShown());

  // A written field is taken back by the cancel.
  Key(Qt::Key_F2);
  Key(Qt::Key_End);
  Key(Qt::Key_Backspace);
  Key(Qt::Key_Return);
  EXPECT_EQ(Current(), "Game 00");
  Key(Qt::Key_Escape);
  EXPECT_EQ(State(), data::DataSetState::Browse);
  EXPECT_EQ(Current(), "Game 001");
  EXPECT_EQ(StoredName(1), "Game 001  ");
}

TEST_F(GridEditorTest, LeavingTheGridWritesThePendingEdit) {
  Open(5);
  Show();
  Key(Qt::Key_F2);
  Key(Qt::Key_End);
  Type("!");
  ASSERT_TRUE(grid_->Editor()->hasFocus());
  // Tab leaves the grid when it does not move between columns.
  grid_->SetGridOptions(kDefaultGridOptions & ~dgTabs);
  ASSERT_TRUE(grid_->Editor()->hasFocus());
  Key(Qt::Key_Tab);
  EXPECT_TRUE(next_->hasFocus());
  EXPECT_EQ(Current(), "Game 001!");
  EXPECT_EQ(State(), data::DataSetState::Edit);
  // The focus taken away from the editor by another control.
  grid_->setFocus();
  Key(Qt::Key_Escape);
  ASSERT_EQ(State(), data::DataSetState::Browse);
  Key(Qt::Key_F2);
  grid_->Editor()->selectAll();
  Type("Other");
  EXPECT_EQ(Current(), "Game 001");
  next_->setFocus(Qt::MouseFocusReason);
  EXPECT_EQ(Current(), "Other");
  table_->Post();
  EXPECT_EQ(StoredName(1), "Other     ");
}

TEST_F(GridEditorTest, TheLengthLimitIsTheSizeOfACharacterField) {
  Open(5);
  Show();
  Key(Qt::Key_F2);
  EXPECT_EQ(grid_->Editor()->maxLength(), kNameLen);
  grid_->Editor()->selectAll();
  Type("ABCDEFGHIJKLMNOP");
  EXPECT_EQ(grid_->Editor()->text(), "ABCDEFGHIJ");
  Key(Qt::Key_Return);
  EXPECT_EQ(Current(), "ABCDEFGHIJ");
  // A number has no limit of its own.
  Key(Qt::Key_Right);
  Key(Qt::Key_F2);
  EXPECT_EQ(grid_->SelectedIndex(), kPrice);
  EXPECT_EQ(grid_->Editor()->maxLength(), 32767);
  grid_->Editor()->selectAll();
  Type("12.25");
  Key(Qt::Key_Down);
  EXPECT_EQ(Stored(1).substr(kPriceAt, 8), "   12.25");
  EXPECT_EQ(Stored(1).substr(kNameAt, kNameLen), "ABCDEFGHIJ");
}

struct DateCase {
  int format;
  bool century;
  const char* mask;    // as the editor holds it
  const char* shown;   // game 1's date as the user sees it
  const char* typed;   // digits typed from the start
  const char* stored;  // YYYYMMDD
};

// A case's name, in the test's name too: the format and the year's digits.
std::string DateCaseName(const DateCase& c) {
  const char* names[] = {"American", "Ansi",    "British",  "Italian", "French",
                         "German",   "Spanish", "FrenchCa", "Russian"};
  return std::string(names[c.format]) + (c.century ? "Century" : "TwoDigitYear");
}
void PrintTo(const DateCase& c, std::ostream* os) {
  *os << DateCaseName(c);
}

class GridDateTest : public GridEditFixture, public ::testing::WithParamInterface<DateCase> {};

TEST_P(GridDateTest, ADateEditsThroughItsMask) {
  const DateCase& c = GetParam();
  SetDateFormat(c.format);
  SetCentury(c.century);
  Open(3);
  Show();
  grid_->SetSelectedIndex(kBorn);
  Key(Qt::Key_F2);
  ASSERT_TRUE(grid_->EditorShown());
  EXPECT_EQ(grid_->Editor()->inputMask(), QString::fromLatin1(c.mask));
  EXPECT_EQ(grid_->Editor()->displayText(), QString::fromLatin1(c.shown));
  Key(Qt::Key_Home);
  Type(QString::fromLatin1(c.typed));
  Key(Qt::Key_Return);
  EXPECT_EQ(State(), data::DataSetState::Edit);
  Key(Qt::Key_Down);
  EXPECT_EQ(Stored(1).substr(kBornAt, 8), c.stored);

  // Emptied, the date is stored blank.
  Key(Qt::Key_F2);
  grid_->Editor()->selectAll();
  Key(Qt::Key_Delete);
  QString blank = QString::fromLatin1(c.shown);
  for (QChar& ch : blank)
    if (ch.isDigit()) ch = ' ';
  EXPECT_EQ(grid_->Editor()->displayText(), blank);
  Key(Qt::Key_Up);
  EXPECT_EQ(Stored(2).substr(kBornAt, 8), "        ");
  EXPECT_EQ(Stored(1).substr(kBornAt, 8), c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, GridDateTest,
    ::testing::Values(DateCase{kAmerican, false, "99/99/99", "02/02/24", "123199", "19991231"},
                      DateCase{kAmerican, true, "99/99/9999", "02/02/2024", "12312001", "20011231"},
                      DateCase{kBritish, false, "99/99/99", "02/02/24", "311298", "19981231"},
                      DateCase{kGerman, true, "99.99.9999", "02.02.2024", "29022028", "20280229"},
                      DateCase{kAnsi, true, "9999.99.99", "2024.02.02", "19991231", "19991231"},
                      DateCase{kAnsi, false, "99.99.99", "24.02.02", "070704", "20070704"}),
    [](const ::testing::TestParamInfo<DateCase>& info) { return DateCaseName(info.param); });

// Dates typed into a date cell's editor, over many dates in every format:
// a year typed with four digits (the century on) is that year, also far
// from today (1776, 2400); one typed with two digits takes the century of
// the window, as everywhere else a user writes a date.
TEST_F(GridEditorTest, TypedDatesAreStoredAsWritten) {
  const std::vector<std::string> dates = test::SampleStoredDates(4, 29);
  bool shown = false;
  for (const bool century : {false, true}) {
    for (int code = kAmerican; code <= kRussian; ++code) {
      SetDateFormat(code);
      SetCentury(century);
      Open(3);
      if (!shown) Show();
      shown = true;
      grid_->setFocus();
      grid_->SetSelectedIndex(kBorn);
      for (const test::DateWriting& w :
           test::DateWritings(dates, {code}, Engine().Dates.WindowBase)) {
        if (w.fourDigits != century || w.expected.empty()) continue;
        if (!century && w.expected.substr(4) != "0229") {
          // The record first holds the same day a century earlier, which
          // shows the same two digits: what is typed must still count.
          const int earlier = std::stoi(w.expected.substr(0, 4)) - 100;
          table_->Edit();
          F("BORN")->SetAsString(
              test::WrittenDate(std::to_string(earlier) + w.expected.substr(4), code, true));
          table_->Post();
          ASSERT_EQ(Stored(1).substr(kBornAt, 8), std::to_string(earlier) + w.expected.substr(4));
        }
        Key(Qt::Key_F2);
        ASSERT_TRUE(grid_->EditorShown());
        Key(Qt::Key_Home);
        QString digits;
        for (const char c : w.text)
          if (c >= '0' && c <= '9') digits += QLatin1Char(c);
        Type(digits);
        EXPECT_EQ(grid_->Editor()->displayText(), QString::fromStdString(w.text));
        Key(Qt::Key_Return);
        table_->Post();
        EXPECT_EQ(Stored(1).substr(kBornAt, 8), w.expected)
            << "format " << code << (century ? ", century on: " : ", century off: ") << w.text;
        EXPECT_EQ(F("BORN")->DisplayText(),
                  w.fourDigits ? w.text : test::WrittenDate(w.expected, code, false));
      }
      table_->Close();
    }
  }
}

TEST_F(GridEditorTest, MemoReadOnlyColumnsAndAReadOnlyGridAreNotEdited) {
  Open(5);
  Show();
  // The memo.
  Key(Qt::Key_Right, Qt::ControlModifier);
  ASSERT_EQ(grid_->SelectedIndex(), kNote);
  Key(Qt::Key_F2);
  EXPECT_FALSE(grid_->EditorShown());
  Click(5, 1);
  EXPECT_FALSE(grid_->EditorShown());
  Type("abc");
  EXPECT_FALSE(grid_->EditorShown());
  EXPECT_EQ(State(), data::DataSetState::Browse);

  // A read-only column.
  grid_->Columns()[kName]->SetReadOnly(true);
  grid_->SetSelectedIndex(kName);
  Key(Qt::Key_F2);
  EXPECT_FALSE(grid_->EditorShown());
  Type("abc");
  EXPECT_EQ(State(), data::DataSetState::Browse);
  // A read-only field.
  grid_->SetSelectedIndex(kPrice);
  F("PRICE")->SetReadOnly(true);
  Key(Qt::Key_F2);
  EXPECT_FALSE(grid_->EditorShown());
  F("PRICE")->SetReadOnly(false);
  Key(Qt::Key_F2);
  EXPECT_TRUE(grid_->EditorShown());
  Key(Qt::Key_Escape);

  // A read-only grid: no editor, no insert, no delete.
  grid_->SetReadOnly(true);
  Key(Qt::Key_F2);
  EXPECT_FALSE(grid_->EditorShown());
  Click(2, 1);
  EXPECT_FALSE(grid_->EditorShown());
  Type("7");
  Key(Qt::Key_Insert);
  BoxSeen seen;
  Answer(QMessageBox::Ok, seen);
  Key(Qt::Key_Delete, Qt::ControlModifier);
  QApplication::processEvents();
  EXPECT_FALSE(seen.asked);
  EXPECT_EQ(State(), data::DataSetState::Browse);
  EXPECT_FALSE(table_->RecordDeleted());
  EXPECT_EQ(table_->RecordCount(), 5);
  // The editor that was shown goes when the grid becomes read-only.
  grid_->SetReadOnly(false);
  Key(Qt::Key_F2);
  ASSERT_TRUE(grid_->EditorShown());
  grid_->SetReadOnly(true);
  EXPECT_FALSE(grid_->EditorShown());
}

// ---------------------------------------------------------------------------
// Deleting and restoring with Ctrl+Delete

class GridDeleteTest : public GridEditFixture {};

TEST_F(GridDeleteTest, CtrlDeleteAsksThenMarksAndRestores) {
  Open(5);
  Show();
  Key(Qt::Key_Down);
  ASSERT_EQ(Current(), "Game 002");

  BoxSeen seen;
  Answer(QMessageBox::Cancel, seen);
  Key(Qt::Key_Delete, Qt::ControlModifier);
  QApplication::processEvents();
  EXPECT_TRUE(seen.asked);
  EXPECT_EQ(seen.text, "Delete Record ?");
  EXPECT_EQ(seen.buttons, QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_FALSE(table_->RecordDeleted());
  EXPECT_EQ(Stored(2)[0], ' ');

  seen = BoxSeen{};
  Answer(QMessageBox::Ok, seen);
  Key(Qt::Key_Delete, Qt::ControlModifier);
  QApplication::processEvents();
  EXPECT_TRUE(seen.asked);
  EXPECT_TRUE(table_->RecordDeleted());
  EXPECT_EQ(Stored(2)[0], '*');
  // Deleted records stay in view: the same record is current.
  EXPECT_EQ(Current(), "Game 002");
  EXPECT_EQ(grid_->Row(), 2);

  // Drawn on red, in the text colour, once the row is not highlighted.
  next_->setFocus();
  QImage image = Grab();
  EXPECT_EQ(Pixel(image, Blank(1, 2)), QColor(Qt::red));
  EXPECT_EQ(Pixel(image, Blank(1, 1)), grid_->Color());
  EXPECT_EQ(Pixel(image, Blank(1, 3)), grid_->Color());
  grid_->setFocus();

  // On a deleted record Ctrl+Delete asks to restore it.
  seen = BoxSeen{};
  Answer(QMessageBox::Cancel, seen);
  Key(Qt::Key_Delete, Qt::ControlModifier);
  QApplication::processEvents();
  EXPECT_EQ(seen.text, "Restore Record ?");
  EXPECT_EQ(seen.buttons, QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_TRUE(table_->RecordDeleted());
  seen = BoxSeen{};
  Answer(QMessageBox::Ok, seen);
  Key(Qt::Key_Delete, Qt::ControlModifier);
  QApplication::processEvents();
  EXPECT_TRUE(seen.asked);
  EXPECT_FALSE(table_->RecordDeleted());
  EXPECT_EQ(Stored(2)[0], ' ');
  next_->setFocus();
  EXPECT_EQ(Pixel(Grab(), Blank(1, 2)), grid_->Color());
}

TEST_F(GridDeleteTest, WithoutTheConfirmOptionsNothingIsAsked) {
  Open(5);
  grid_->SetGridOptions(kDefaultGridOptions & ~(dgConfirmDelete | dgConfirmRestore));
  Show();
  BoxSeen seen;
  Answer(QMessageBox::Cancel, seen);
  Key(Qt::Key_Delete, Qt::ControlModifier);
  QApplication::processEvents();
  EXPECT_FALSE(seen.asked);
  EXPECT_TRUE(table_->RecordDeleted());
  EXPECT_EQ(Stored(1)[0], '*');
  Key(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_FALSE(table_->RecordDeleted());
  EXPECT_EQ(Stored(1)[0], ' ');
  // Only one of them: only that question is asked.
  grid_->SetGridOptions(kDefaultGridOptions & ~dgConfirmRestore);
  seen = BoxSeen{};
  Answer(QMessageBox::Ok, seen);
  Key(Qt::Key_Delete, Qt::ControlModifier);
  QApplication::processEvents();
  EXPECT_EQ(seen.text, "Delete Record ?");
  EXPECT_TRUE(table_->RecordDeleted());
  seen = BoxSeen{};
  Answer(QMessageBox::Cancel, seen);
  Key(Qt::Key_Delete, Qt::ControlModifier);
  QApplication::processEvents();
  EXPECT_FALSE(seen.asked);
  EXPECT_FALSE(table_->RecordDeleted());
}

TEST_F(GridDeleteTest, HiddenDeletedRecordsLeaveTheGrid) {
  Open(5, {}, /*hideDeleted=*/true);
  Show();
  Key(Qt::Key_Down);
  BoxSeen seen;
  Answer(QMessageBox::Ok, seen);
  Key(Qt::Key_Delete, Qt::ControlModifier);
  QApplication::processEvents();
  EXPECT_TRUE(seen.asked);
  EXPECT_EQ(Stored(2)[0], '*');
  EXPECT_EQ(grid_->RowCount(), 1 + 4);
  table_->First();
  std::vector<std::string> names;
  for (; !table_->Eof(); table_->Next()) names.push_back(Current());
  EXPECT_EQ(names, (std::vector<std::string>{"Game 001", "Game 003", "Game 004", "Game 005"}));
}

TEST_F(GridDeleteTest, RecordsStoredDeletedAreDrawnInTheDeletedColours) {
  Open(6, {3, 5});
  Show();
  next_->setFocus();
  const QImage image = Grab();
  for (int row = 1; row <= 6; ++row)
    EXPECT_EQ(Pixel(image, Blank(2, row)), row == 3 || row == 5 ? QColor(Qt::red) : grid_->Color())
        << row;
  // The text of a deleted row is in the text colour.
  const QRect cell = grid_->CellRect(1, 3);
  bool ink = false;
  for (int x = cell.left() + 2; x < cell.left() + 40 && !ink; ++x)
    for (int y = cell.top(); y < cell.bottom(); ++y)
      if (Pixel(image, QPoint(x, y)) == Rgb(grid_->palette().color(QPalette::Text))) ink = true;
  EXPECT_TRUE(ink);
}

// ---------------------------------------------------------------------------
// Inserting and appending

class GridInsertTest : public GridEditFixture {
 protected:
  QImage Indicator(int row) { return Grab().copy(grid_->CellRect(0, row)); }
};

TEST_F(GridInsertTest, InsertAddsARecordAndDownCancelsItWhenUntouched) {
  Open(5);
  Show();
  const QImage browsing = Indicator(1);
  Key(Qt::Key_Down);
  Key(Qt::Key_Down);
  ASSERT_EQ(Current(), "Game 003");
  Type("x");
  ASSERT_EQ(State(), data::DataSetState::Edit);
  const QImage editing = Indicator(3);
  Key(Qt::Key_Escape);
  Key(Qt::Key_Escape);
  ASSERT_EQ(State(), data::DataSetState::Browse);
  EXPECT_EQ(Indicator(3), browsing);
  EXPECT_NE(editing, browsing);
  Key(Qt::Key_Insert);
  EXPECT_EQ(State(), data::DataSetState::Insert);
  EXPECT_EQ(grid_->Row(), 3);
  EXPECT_EQ(Current(), "");
  const QImage inserting = Indicator(3);
  EXPECT_NE(inserting, browsing);
  EXPECT_NE(inserting, editing);
  // Down on the untouched record gives it up.
  Key(Qt::Key_Down);
  EXPECT_EQ(State(), data::DataSetState::Browse);
  EXPECT_EQ(Current(), "Game 003");
  EXPECT_EQ(StoredCount(), 5);
  // Shift+Insert inserts nothing.
  Key(Qt::Key_Insert, Qt::ShiftModifier);
  EXPECT_EQ(State(), data::DataSetState::Browse);

  // A record that got a name is kept by Down.
  Key(Qt::Key_Insert);
  Type("Fresh");
  Key(Qt::Key_Return);
  EXPECT_EQ(State(), data::DataSetState::Insert);
  EXPECT_EQ(Indicator(3), inserting);  // still inserting
  Key(Qt::Key_Down);
  EXPECT_EQ(StoredCount(), 6);
  EXPECT_EQ(StoredName(6), "Fresh     ");
  // Without an index the new record stands last: Down from it appended
  // the next one, which Escape gives up.
  EXPECT_EQ(State(), data::DataSetState::Insert);
  EXPECT_TRUE(table_->Eof());
  Key(Qt::Key_Escape);
  EXPECT_EQ(State(), data::DataSetState::Browse);
  EXPECT_EQ(Current(), "Fresh");
  EXPECT_EQ(StoredCount(), 6);
}

TEST_F(GridInsertTest, DownAtTheEndAppendsAndUpGivesTheUntouchedRecordUp) {
  Open(5);
  Show();
  Key(Qt::Key_End, Qt::ControlModifier);
  ASSERT_EQ(Current(), "Game 005");
  Key(Qt::Key_Down);
  EXPECT_EQ(State(), data::DataSetState::Insert);
  EXPECT_TRUE(table_->Eof());
  EXPECT_EQ(Current(), "");
  // Down again on the untouched record at the end: nothing happens.
  Key(Qt::Key_Down);
  EXPECT_EQ(State(), data::DataSetState::Insert);
  EXPECT_EQ(StoredCount(), 5);
  // Up gives it up.
  Key(Qt::Key_Up);
  EXPECT_EQ(State(), data::DataSetState::Browse);
  EXPECT_EQ(Current(), "Game 005");
  EXPECT_EQ(StoredCount(), 5);

  // A record written with Enter is kept by Up.
  Key(Qt::Key_Down);
  ASSERT_EQ(State(), data::DataSetState::Insert);
  Type("Last");
  Key(Qt::Key_Return);
  Key(Qt::Key_Up);
  EXPECT_EQ(State(), data::DataSetState::Browse);
  EXPECT_EQ(StoredCount(), 6);
  EXPECT_EQ(StoredName(6), "Last      ");
  EXPECT_EQ(Current(), "Game 005");
  // Typed but not yet written: Up writes and keeps it as well.
  Key(Qt::Key_End, Qt::ControlModifier);
  Key(Qt::Key_Down);
  Type("Pending");
  Key(Qt::Key_Up);
  EXPECT_EQ(StoredCount(), 7);
  EXPECT_EQ(StoredName(7), "Pending   ");
}

TEST_F(GridInsertTest, OtherMovesAwayFromAnUntouchedRecordStoreNothing) {
  Open(30);
  Show();
  const int visible = grid_->VisibleRowCount();
  Key(Qt::Key_Down);
  Key(Qt::Key_Down);
  Key(Qt::Key_Insert);
  ASSERT_EQ(State(), data::DataSetState::Insert);
  Key(Qt::Key_PageDown);
  EXPECT_EQ(State(), data::DataSetState::Browse);
  EXPECT_EQ(StoredCount(), 30);
  EXPECT_EQ(Current(), Name(3 + visible));
  Key(Qt::Key_Home, Qt::ControlModifier);
  Key(Qt::Key_Insert);
  Key(Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(StoredCount(), 30);
  EXPECT_EQ(Current(), Name(30));
  // A click on a row below the new record: the record shown there.
  Key(Qt::Key_Home, Qt::ControlModifier);
  Key(Qt::Key_Down);
  Key(Qt::Key_Insert);
  ASSERT_EQ(grid_->Row(), 2);
  Click(3, 5);  // Game 004 stands there, the new record above it
  EXPECT_EQ(State(), data::DataSetState::Browse);
  EXPECT_EQ(StoredCount(), 30);
  EXPECT_EQ(Current(), "Game 004");
  EXPECT_EQ(grid_->Row(), 4);  // the rows below the new record moved up
  EXPECT_EQ(grid_->SelectedIndex(), kBorn);
  // And above it.
  Key(Qt::Key_Insert);
  Click(1, 1);
  EXPECT_EQ(Current(), "Game 001");
  EXPECT_EQ(StoredCount(), 30);
  // A record that was given a value is stored by the move.
  Key(Qt::Key_Insert);
  Type("Kept");
  Click(1, 3);
  EXPECT_EQ(StoredCount(), 31);
  EXPECT_EQ(StoredName(31), "Kept      ");
}

TEST_F(GridInsertTest, DownAppendsOnlyWithEditingAModifiableTableAndAutoAppend) {
  Open(3);
  Show();
  grid_->SetAutoAppend(false);
  Key(Qt::Key_End, Qt::ControlModifier);
  Key(Qt::Key_Down);
  EXPECT_EQ(State(), data::DataSetState::Browse);
  EXPECT_EQ(Current(), "Game 003");
  grid_->SetAutoAppend(true);
  grid_->SetGridOptions(kDefaultGridOptions & ~dgEditing);
  Key(Qt::Key_Down);
  EXPECT_EQ(State(), data::DataSetState::Browse);
  grid_->SetGridOptions(kDefaultGridOptions);
  grid_->SetReadOnly(true);
  Key(Qt::Key_Down);
  EXPECT_EQ(State(), data::DataSetState::Browse);
  grid_->SetReadOnly(false);
  Key(Qt::Key_Down);
  EXPECT_EQ(State(), data::DataSetState::Insert);
  Key(Qt::Key_Escape);
  EXPECT_EQ(State(), data::DataSetState::Browse);
  EXPECT_EQ(Current(), "Game 003");

  // A table opened read-only cannot be appended to.
  table_->Close();
  table_.reset();
  Open(3, {}, false, /*readOnly=*/true);
  grid_->setFocus();
  Key(Qt::Key_End, Qt::ControlModifier);
  Key(Qt::Key_Down);
  EXPECT_EQ(State(), data::DataSetState::Browse);
  Key(Qt::Key_Insert);
  EXPECT_EQ(State(), data::DataSetState::Browse);
}

// ---------------------------------------------------------------------------
// Logical fields

class GridLogicalTest : public GridEditFixture {
 protected:
  // The box of a logical cell as the drawing places it: a square as high
  // as the cell, centred, inset by 2 on every side.
  QRect Box(int col, int row) const {
    const QRect r = grid_->CellRect(col, row);
    const int side = r.height();
    QRect box(r.left() + (r.width() - side) / 2, r.top(), side, side);
    return box.adjusted(2, 2, -2, -2);
  }
  // Pixels of a colour other than the cell's background inside a rectangle.
  static int Ink(const QImage& image, const QRect& r, const QColor& background) {
    int n = 0;
    for (int x = r.left(); x <= r.right(); ++x)
      for (int y = r.top(); y <= r.bottom(); ++y)
        if (Pixel(image, QPoint(x, y)) != background) ++n;
    return n;
  }
  static int Count(const QImage& image, const QRect& r, const QColor& colour) {
    int n = 0;
    for (int x = r.left(); x <= r.right(); ++x)
      for (int y = r.top(); y <= r.bottom(); ++y)
        if (Pixel(image, QPoint(x, y)) == colour) ++n;
    return n;
  }
};

TEST_F(GridLogicalTest, TheNineBoxKinds) {
  Open(4);
  Show();
  next_->setFocus();  // no highlight
  const int col = kOk + 1;
  const QColor back = Rgb(grid_->Color());
  const QColor fore = Rgb(grid_->Columns()[kOk]->FontColor());
  const QColor red(Qt::red);
  struct Kind {
    BooleanBoxStyle box;
    bool frame;
    bool round;
    bool redMark;
  };
  const Kind kinds[] = {
      {BooleanBoxStyle::bbCheckBox, true, false, false},
      {BooleanBoxStyle::bbCheckMark, false, false, false},
      {BooleanBoxStyle::bbFillBox, true, false, false},
      {BooleanBoxStyle::bbFillBoxRed, true, false, true},
      {BooleanBoxStyle::bbRButton, true, true, false},
      {BooleanBoxStyle::bbRButtonRed, true, true, true},
      {BooleanBoxStyle::bbDot, false, true, false},
      {BooleanBoxStyle::bbDotRed, false, true, true},
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(static_cast<int>(k.box));
    grid_->SetBooleanBox(k.box);
    const QImage image = Grab();
    const QRect yes = Box(col, 1), no = Box(col, 2);  // game 1 is OK, game 2 is not
    // The frame: the middle of the box's left edge.
    const QPoint edge(no.left(), no.center().y());
    EXPECT_EQ(Pixel(image, edge) == fore, k.frame);
    if (!k.frame) {
      EXPECT_EQ(Pixel(image, edge), back);
    }
    // No mark when false: inside the frame nothing but background (inside
    // a round frame, the square that fits in the circle).
    const int in = k.round ? yes.width() * 3 / 20 + 2 : 2;
    const QRect noInside = no.adjusted(in, in, -in, -in);
    EXPECT_EQ(Ink(image, noInside, back), 0);
    // A mark when true, red for the red kinds.
    const QRect yesInside = yes.adjusted(in, in, -in, -in);
    EXPECT_GT(Ink(image, yesInside, back), 4);
    EXPECT_EQ(Count(image, yesInside, red) > 0, k.redMark);
    EXPECT_EQ(Count(image, yesInside, fore) > 0, !k.redMark);
    // Nothing is drawn outside the box.
    const QRect cell = grid_->CellRect(col, 1);
    EXPECT_EQ(
        Ink(image, QRect(cell.left(), cell.top(), yes.left() - cell.left() - 1, cell.height()),
            back),
        0);
  }
  // The filled kinds fill the middle; the cross of the check box passes
  // through it as well.
  grid_->SetBooleanBox(BooleanBoxStyle::bbFillBoxRed);
  EXPECT_EQ(Pixel(Grab(), Box(col, 1).center()), red);
  grid_->SetBooleanBox(BooleanBoxStyle::bbFillBox);
  EXPECT_EQ(Pixel(Grab(), Box(col, 1).center()), fore);
  grid_->SetBooleanBox(BooleanBoxStyle::bbDotRed);
  EXPECT_EQ(Pixel(Grab(), Box(col, 3).center()), red);

  // bbText writes the field's text from the left like any other field.
  grid_->SetBooleanBox(BooleanBoxStyle::bbText);
  const QImage image = Grab();
  const QRect cell = grid_->CellRect(col, 1);
  EXPECT_GT(Ink(image, QRect(cell.left() + 2, cell.top(), 8, cell.height()), back), 0);
  EXPECT_EQ(Ink(image, QRect(cell.right() - 3, cell.top(), 3, cell.height()), back), 0);
}

TEST_F(GridLogicalTest, ClickSpaceAndEnterToggleAndWriteAtOnce) {
  Open(4);
  Show();
  grid_->SetSelectedIndex(kOk);
  ASSERT_TRUE(static_cast<data::BooleanField*>(F("OK"))->AsBoolean());
  // A click on the current logical cell.
  Click(kOk + 1, 1);
  EXPECT_FALSE(grid_->EditorShown());
  EXPECT_EQ(F("OK")->AsString(), "False");
  EXPECT_EQ(State(), data::DataSetState::Edit);
  Key(Qt::Key_Space);
  EXPECT_EQ(F("OK")->AsString(), "True");
  Key(Qt::Key_Return);
  EXPECT_EQ(F("OK")->AsString(), "False");
  EXPECT_FALSE(grid_->EditorShown());
  // Other printable keys and Backspace do nothing here.
  Type("tx");
  Key(Qt::Key_Backspace);
  EXPECT_FALSE(grid_->EditorShown());
  EXPECT_EQ(F("OK")->AsString(), "False");
  // Nor in the editor, where Space toggles as well.
  Key(Qt::Key_F2);
  ASSERT_TRUE(grid_->EditorShown());
  EXPECT_EQ(grid_->Editor()->text(), "False");
  Type("abc");
  Key(Qt::Key_Backspace);
  EXPECT_EQ(grid_->Editor()->text(), "False");
  Key(Qt::Key_Space);
  EXPECT_EQ(F("OK")->AsString(), "True");
  EXPECT_EQ(grid_->Editor()->text(), "True");
  Key(Qt::Key_Return);
  EXPECT_EQ(F("OK")->AsString(), "False");
  EXPECT_EQ(grid_->Editor()->text(), "False");
  Key(Qt::Key_Down);
  EXPECT_EQ(Stored(1)[kOkAt], 'F');
  // Game 2 is not OK: Space makes it OK.
  Key(Qt::Key_Space);
  Key(Qt::Key_Up);
  EXPECT_EQ(Stored(2)[kOkAt], 'T');
  // The cell is drawn again with its new value.
  next_->setFocus();
  grid_->SetBooleanBox(BooleanBoxStyle::bbFillBoxRed);
  const QImage image = Grab();
  EXPECT_EQ(Pixel(image, Box(kOk + 1, 2).center()), QColor(Qt::red));
  EXPECT_EQ(Pixel(image, Box(kOk + 1, 1).center()), grid_->Color());
}

TEST_F(GridLogicalTest, NoToggleWithoutEditingOrOnAReadOnlyColumn) {
  Open(4);
  Show();
  grid_->SetSelectedIndex(kOk);
  grid_->SetGridOptions(kDefaultGridOptions & ~dgEditing);
  Click(kOk + 1, 1);
  Key(Qt::Key_Space);
  EXPECT_EQ(F("OK")->AsString(), "True");
  EXPECT_EQ(State(), data::DataSetState::Browse);
  grid_->SetGridOptions(kDefaultGridOptions);
  grid_->Columns()[kOk]->SetReadOnly(true);
  grid_->SetSelectedIndex(kOk);
  Key(Qt::Key_Space);
  EXPECT_EQ(F("OK")->AsString(), "True");
  // With bbText the field is an ordinary field: typing edits its text.
  grid_->Columns()[kOk]->SetReadOnly(false);
  grid_->SetBooleanBox(BooleanBoxStyle::bbText);
  grid_->SetSelectedIndex(kOk);
  Type("F");
  ASSERT_TRUE(grid_->EditorShown());
  EXPECT_EQ(grid_->Editor()->text(), "F");
  Key(Qt::Key_Down);
  EXPECT_EQ(Stored(1)[kOkAt], 'F');
}

// ---------------------------------------------------------------------------
// Tab between columns

class GridTabTest : public GridEditFixture {};

TEST_F(GridTabTest, TabStopsSkipReadOnlyAndUnboundColumnsAndWrapToTheNextRow) {
  Open(5);
  PersistentColumns({"NAME", "PRICE", "MISSING", "BORN", "OK"});
  grid_->Columns()[0]->SetReadOnly(true);
  Show();
  ASSERT_EQ(grid_->ColCount(), 6);
  ASSERT_EQ(grid_->SelectedIndex(), 0);
  Key(Qt::Key_Tab);
  EXPECT_EQ(grid_->SelectedIndex(), 1);  // PRICE
  Key(Qt::Key_Tab);
  EXPECT_EQ(grid_->SelectedIndex(), 3);  // BORN: MISSING has no field
  Key(Qt::Key_Tab);
  EXPECT_EQ(grid_->SelectedIndex(), 4);  // OK
  EXPECT_EQ(Current(), "Game 001");
  Key(Qt::Key_Tab);  // past the last column: the next row, NAME skipped
  EXPECT_EQ(Current(), "Game 002");
  EXPECT_EQ(grid_->SelectedIndex(), 1);
  Key(Qt::Key_Tab, Qt::ShiftModifier);  // before the first stop: the prior row
  EXPECT_EQ(Current(), "Game 001");
  EXPECT_EQ(grid_->SelectedIndex(), 4);
  Key(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_EQ(grid_->SelectedIndex(), 3);
  EXPECT_EQ(Current(), "Game 001");
  EXPECT_TRUE(grid_->hasFocus());

  // Tab from the editor moves as well, writing what was typed.
  Key(Qt::Key_F2);
  ASSERT_TRUE(grid_->EditorShown());
  grid_->Editor()->selectAll();
  Type("010199");
  Key(Qt::Key_Tab);
  EXPECT_EQ(grid_->SelectedIndex(), 4);
  EXPECT_EQ(F("BORN")->AsString(), "01/01/99");

  // Alt+Tab is not ours.
  Key(Qt::Key_Tab, Qt::AltModifier);
  EXPECT_EQ(grid_->SelectedIndex(), 4);
}

TEST_F(GridTabTest, WithoutDgTabsTabLeavesTheGrid) {
  Open(5);
  grid_->SetGridOptions(kDefaultGridOptions & ~dgTabs);
  Show();
  Key(Qt::Key_Tab);
  EXPECT_TRUE(next_->hasFocus());
  EXPECT_EQ(grid_->SelectedIndex(), 0);
  EXPECT_EQ(Current(), "Game 001");
}

// ---------------------------------------------------------------------------
// Other keys

class GridKeysTest : public GridEditFixture {};

TEST_F(GridKeysTest, CtrlKeysGoToTheVisibleEdgesAndTheOuterColumns) {
  Open(60);
  Show();
  const int visible = grid_->VisibleRowCount();
  ASSERT_GT(visible, 4);
  for (int i = 0; i < 3; ++i) Key(Qt::Key_Down);
  ASSERT_EQ(Current(), "Game 004");
  Key(Qt::Key_Down, Qt::ControlModifier);
  EXPECT_EQ(Current(), Name(visible));
  EXPECT_EQ(grid_->Row(), visible);
  Key(Qt::Key_Up, Qt::ControlModifier);
  EXPECT_EQ(Current(), "Game 001");
  EXPECT_EQ(grid_->Row(), 1);
  Key(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(Current(), Name(visible));
  Key(Qt::Key_PageDown);
  EXPECT_EQ(Current(), Name(2 * visible));
  Key(Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(Current(), Name(visible + 1));

  Key(Qt::Key_Right, Qt::ControlModifier);
  EXPECT_EQ(grid_->SelectedIndex(), kNote);
  Key(Qt::Key_Left, Qt::ControlModifier);
  EXPECT_EQ(grid_->SelectedIndex(), kName);
  Key(Qt::Key_Right);
  Key(Qt::Key_Right);
  EXPECT_EQ(grid_->SelectedIndex(), kBorn);
  Key(Qt::Key_Left);
  EXPECT_EQ(grid_->SelectedIndex(), kPrice);
  // Home and End with several columns: the outer columns, same record.
  Key(Qt::Key_End);
  EXPECT_EQ(grid_->SelectedIndex(), kNote);
  Key(Qt::Key_Home);
  EXPECT_EQ(grid_->SelectedIndex(), kName);
  EXPECT_EQ(Current(), Name(visible + 1));
  Key(Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(Current(), Name(60));
  Key(Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(Current(), Name(1));

  // Ctrl with a key of its own only: Ctrl+Insert inserts nothing.
  Key(Qt::Key_Insert, Qt::ControlModifier);
  EXPECT_EQ(State(), data::DataSetState::Browse);
  EXPECT_EQ(StoredCount(), 60);
}

TEST_F(GridKeysTest, RowSelectMovesByRowsAndHighlightsTheWholeRow) {
  Open(20);
  grid_->SetGridOptions(kDefaultGridOptions | dgRowSelect);
  Show();
  EXPECT_EQ(grid_->GridOptions() & (dgEditing | dgAlwaysShowEditor), 0u);
  EXPECT_TRUE(grid_->GridOptions() & dgRowSelect);
  Key(Qt::Key_Right);
  EXPECT_EQ(Current(), "Game 002");
  Key(Qt::Key_Right);
  Key(Qt::Key_Left);
  EXPECT_EQ(Current(), "Game 002");
  EXPECT_EQ(grid_->SelectedIndex(), kName);
  Key(Qt::Key_End);
  EXPECT_EQ(Current(), "Game 020");
  Key(Qt::Key_Home);
  EXPECT_EQ(Current(), "Game 001");
  Key(Qt::Key_F2);
  EXPECT_FALSE(grid_->EditorShown());
  Type("a");
  EXPECT_FALSE(grid_->EditorShown());
  Key(Qt::Key_Down);
  const QImage image = Grab();
  const QColor highlight = Rgb(grid_->palette().color(QPalette::Highlight));
  for (int c = 1; c <= 3; ++c) {
    EXPECT_EQ(Pixel(image, Blank(c, 2)), highlight) << c;
    EXPECT_EQ(Pixel(image, Blank(c, 1)), grid_->Color()) << c;
  }
}

// ---------------------------------------------------------------------------
// Mouse

class GridMouseTest : public GridEditFixture {
 protected:
  std::vector<std::string> events_;
  void Watch() {
    auto name = [](GridColumn* c) { return c ? c->FieldName() : std::string("-"); };
    grid_->OnTitleClick = [this, name](DataGrid&, GridColumn* c) {
      events_.push_back("title " + name(c));
    };
    grid_->OnDepressTitle = [this, name](DataGrid&, GridColumn* c) {
      events_.push_back("depress " + name(c));
    };
    grid_->OnCellClick = [this, name](DataGrid&, GridColumn* c) {
      events_.push_back("cell " + name(c));
    };
    grid_->OnCornerLeftClick = [this](DataGrid&) { events_.push_back("corner left"); };
    grid_->OnCornerRightClick = [this](DataGrid&) { events_.push_back("corner right"); };
    grid_->OnIndicatorClick = [this](DataGrid&) { events_.push_back("indicator"); };
    grid_->OnDblClick = [this](DataGrid&) { events_.push_back("double"); };
    grid_->OnColumnMoved = [this](DataGrid&, int from, int to) {
      events_.push_back("moved " + std::to_string(from) + " " + std::to_string(to));
    };
  }
  std::vector<std::string> Take() { return std::exchange(events_, {}); }
  using Strings = std::vector<std::string>;
};

TEST_F(GridMouseTest, TitleClicksRunOnlyWhenReleasedOnThePressedColumn) {
  Open(10);
  Watch();
  Show();
  Click(2, 0);
  EXPECT_EQ(Take(), Strings{"title PRICE"});
  // Pressed on one title, released on another.
  grid_->SetGridOptions(kDefaultGridOptions & ~dgColumnResize);
  Press(CellCentre(2, 0));
  Release(CellCentre(3, 0));
  EXPECT_EQ(Take(), Strings{});
  Click(3, 0);
  EXPECT_EQ(Take(), Strings{"title BORN"});
  // A title click moves nothing.
  EXPECT_EQ(Current(), "Game 001");
  EXPECT_EQ(grid_->SelectedIndex(), kName);
}

TEST_F(GridMouseTest, RightClickDepressesATitleUnlessDisabled) {
  Open(10);
  Watch();
  Show();
  const QRect title = grid_->CellRect(2, 0);
  const QColor light = Rgb(grid_->palette().color(QPalette::Light));
  const QColor dark = Rgb(grid_->palette().color(QPalette::Dark));
  EXPECT_EQ(Pixel(Grab(), title.topLeft() + QPoint(4, 0)), light);
  Click(2, 0, Qt::RightButton);
  EXPECT_EQ(grid_->DepressedTitle(), kPrice);
  EXPECT_EQ(Take(), Strings{"depress PRICE"});
  // Drawn sunken: the dark edge on top, the light one below.
  QImage image = Grab();
  EXPECT_EQ(Pixel(image, title.topLeft() + QPoint(4, 0)), dark);
  EXPECT_EQ(Pixel(image, title.bottomLeft() + QPoint(4, 0)), light);
  EXPECT_EQ(Pixel(Grab(), grid_->CellRect(3, 0).topLeft() + QPoint(4, 0)), light);
  // Another right click depresses another title.
  Click(3, 0, Qt::RightButton);
  EXPECT_EQ(grid_->DepressedTitle(), kBorn);
  Take();
  // Disabling releases it, and no title is depressed while disabled.
  grid_->SetDepressDisabled(true);
  EXPECT_EQ(grid_->DepressedTitle(), -1);
  EXPECT_EQ(Pixel(Grab(), grid_->CellRect(3, 0).topLeft() + QPoint(4, 0)), light);
  Click(2, 0, Qt::RightButton);
  EXPECT_EQ(grid_->DepressedTitle(), -1);
  EXPECT_EQ(Take(), Strings{});
  grid_->SetDepressDisabled(false);
  Click(2, 0, Qt::RightButton);
  EXPECT_EQ(grid_->DepressedTitle(), kPrice);
}

TEST_F(GridMouseTest, CornerIndicatorCellAndDoubleClicks) {
  Open(10);
  Watch();
  Show();
  Click(0, 0);
  Click(0, 0, Qt::RightButton);
  EXPECT_EQ(Take(), (Strings{"corner left", "corner right"}));
  EXPECT_EQ(Current(), "Game 001");
  // The indicator of another row: that record becomes current.
  Click(0, 4);
  EXPECT_EQ(Take(), Strings{"indicator"});
  EXPECT_EQ(Current(), "Game 004");
  EXPECT_EQ(grid_->SelectedIndex(), kName);
  // A cell: its record and column become current.
  Click(3, 2);
  EXPECT_EQ(Take(), Strings{"cell BORN"});
  EXPECT_EQ(Current(), "Game 002");
  EXPECT_EQ(grid_->SelectedIndex(), kBorn);
  // The right button on a cell runs nothing.
  Click(2, 3, Qt::RightButton);
  EXPECT_EQ(Take(), Strings{});
  QTest::mouseDClick(grid_->viewport(), Qt::LeftButton, Qt::NoModifier, CellCentre(2, 5));
  const Strings got = Take();
  EXPECT_NE(std::find(got.begin(), got.end(), "double"), got.end());
}

TEST_F(GridMouseTest, ResizingAColumnStoresItsWidth) {
  Open(10);
  Watch();
  Show();
  const QRect title = grid_->CellRect(2, 0);
  const int before = grid_->Columns()[kPrice]->Width();
  ASSERT_EQ(grid_->ColWidth(2), before);
  const QPoint edge(title.right() + 1, title.center().y());
  Press(edge);
  Move(edge + QPoint(15, 0));
  Move(edge + QPoint(30, 0));
  Release(edge + QPoint(30, 0));
  EXPECT_EQ(grid_->Columns()[kPrice]->Width(), before + 30);
  EXPECT_EQ(grid_->ColWidth(2), before + 30);
  EXPECT_TRUE(grid_->Columns()[kPrice]->IsWidthStored());
  // Ending a resize runs no title click.
  EXPECT_EQ(Take(), Strings{});
  // Without dgColumnResize the border does not move.
  grid_->SetGridOptions(kDefaultGridOptions & ~dgColumnResize);
  const QPoint edge2(grid_->CellRect(2, 0).right() + 1, title.center().y());
  Press(edge2);
  Move(edge2 + QPoint(20, 0));
  Release(edge2 + QPoint(20, 0));
  EXPECT_EQ(grid_->Columns()[kPrice]->Width(), before + 30);
}

TEST_F(GridMouseTest, MovingAColumnMovesItsItemAndTheDepressedTitleFollows) {
  Open(10);
  Watch();
  Show();
  Click(1, 0, Qt::RightButton);  // NAME depressed
  Take();
  ASSERT_EQ(grid_->DepressedTitle(), kName);
  const QPoint from = CellCentre(1, 0), to = CellCentre(3, 0);
  Press(from);
  Move(from + QPoint(10, 0));
  Move(to);
  Release(to);
  EXPECT_EQ(Take(), Strings{"moved 0 2"});
  EXPECT_EQ(grid_->Columns()[0]->FieldName(), "PRICE");
  EXPECT_EQ(grid_->Columns()[1]->FieldName(), "BORN");
  EXPECT_EQ(grid_->Columns()[2]->FieldName(), "NAME");
  EXPECT_EQ(grid_->DepressedTitle(), 2);
  EXPECT_EQ(grid_->ColumnField(2)->FieldName(), "NAME");
  // Another column moved across the depressed one: it stays on NAME.
  const QPoint a = CellCentre(4, 0), b = CellCentre(1, 0);
  Press(a);
  Move(a - QPoint(10, 0));
  Move(b);
  Release(b);
  EXPECT_EQ(Take(), Strings{"moved 3 0"});
  EXPECT_EQ(grid_->Columns()[0]->FieldName(), "OK");
  EXPECT_EQ(grid_->Columns()[3]->FieldName(), "NAME");
  EXPECT_EQ(grid_->DepressedTitle(), 3);
  // And from its left to its right.
  const QPoint c = CellCentre(1, 0), d = CellCentre(5, 0);
  Press(c);
  Move(c + QPoint(10, 0));
  Move(d);
  Release(d);
  EXPECT_EQ(Take(), Strings{"moved 0 4"});
  EXPECT_EQ(grid_->Columns()[2]->FieldName(), "NAME");
  EXPECT_EQ(grid_->DepressedTitle(), 2);
  // The cells follow their columns.
  EXPECT_EQ(grid_->ColumnField(2)->FieldName(), "NAME");
  grid_->SetSelectedIndex(2);
  Key(Qt::Key_F2);
  EXPECT_EQ(grid_->Editor()->text(), "Game 001");
}

// ---------------------------------------------------------------------------
// The layout pass

class GridLayoutTest : public GridEditFixture {
 protected:
  int passes_ = 0;
  void CountPasses() {
    grid_->OnDefineFieldMap = [this](DataGrid&) { ++passes_; };
  }
};

TEST_F(GridLayoutTest, RequestsUnderALayoutLockMakeOnePassAtTheRelease) {
  Open(10);
  Show();
  CountPasses();
  UserEventLog posted;
  grid_->installEventFilter(&posted);
  grid_->BeginLayout();
  grid_->SetFixedColumns(1);
  grid_->SetGridOptions(kDefaultGridOptions & ~dgRowLines);
  QFont f = grid_->TitleFont();
  f.setBold(true);
  grid_->SetTitleFont(f);
  EXPECT_EQ(passes_, 0);
  EXPECT_EQ(posted.count, 0);  // not delivered yet
  // The posted pass arrives while the lock is still held: nothing.
  QApplication::processEvents();
  EXPECT_EQ(posted.count, 1);
  EXPECT_EQ(passes_, 0);
  grid_->BeginLayout();  // nested
  grid_->SetFixedColumns(2);
  grid_->EndLayout();
  EXPECT_EQ(passes_, 0);
  grid_->EndLayout();
  EXPECT_EQ(passes_, 1);
  EXPECT_EQ(grid_->FixedCols(), 3);  // indicator + 2
  QApplication::processEvents();
  EXPECT_EQ(passes_, 1);
  EXPECT_EQ(posted.count, 2);
  grid_->removeEventFilter(&posted);
}

TEST_F(GridLayoutTest, RequestsUnderAnUpdateLockAreFoldedIntoOnePostedPass) {
  Open(10);
  Show();
  CountPasses();
  UserEventLog posted;
  grid_->installEventFilter(&posted);
  grid_->BeginUpdate();
  grid_->SetFixedColumns(1);
  grid_->SetFixedColumns(2);
  grid_->SetGridOptions(kDefaultGridOptions & ~dgIndicator);
  QApplication::processEvents();
  EXPECT_EQ(posted.count, 1);
  EXPECT_EQ(passes_, 0);
  grid_->EndUpdate();
  EXPECT_EQ(passes_, 1);
  EXPECT_EQ(grid_->FixedCols(), 2);
  QApplication::processEvents();
  EXPECT_EQ(passes_, 1);
  // Without a lock the request runs at once, nothing posted.
  grid_->SetFixedColumns(1);
  EXPECT_EQ(passes_, 2);
  QApplication::processEvents();
  EXPECT_EQ(posted.count, 1);
  grid_->removeEventFilter(&posted);
}

TEST_F(GridLayoutTest, NoPassWhileLoadingAndTheDataSourceComesAtTheEnd) {
  WriteGames(5);
  table_ = std::make_unique<DbfTable>();
  table_->SetName("Games");
  table_->ReadOnly = false;
  table_->SetExclusive(true);
  table_->CreateIfNotFound = false;
  source_.SetDataSet(table_.get());
  table_->SetDbfFileName(dir_.File("games"));
  table_->Open();
  CountPasses();
  grid_->BeginLoading();
  grid_->SetDataSource(&source_);
  grid_->SetFixedColumns(1);
  grid_->SetGridOptions(kDefaultGridOptions & ~dgTitles);
  EXPECT_EQ(grid_->DataSource(), nullptr);
  EXPECT_EQ(passes_, 0);
  grid_->LayoutNow();
  EXPECT_EQ(passes_, 0);
  grid_->EndLoading();
  EXPECT_EQ(grid_->DataSource(), &source_);
  EXPECT_EQ(passes_, 1);
  EXPECT_EQ(grid_->Columns().Count(), 5);
  EXPECT_EQ(grid_->TitleOffset(), 0);
  Show();
  EXPECT_EQ(grid_->FixedCols(), 2);
  EXPECT_EQ(Current(), "Game 001");
  // A data source taken away while loading is taken away at the end.
  grid_->BeginLoading();
  grid_->SetDataSource(nullptr);
  EXPECT_EQ(grid_->DataSource(), &source_);
  grid_->EndLoading();
  EXPECT_EQ(grid_->DataSource(), nullptr);
}

TEST_F(GridLayoutTest, DefaultColumnsFollowTheVisibleFields) {
  Open(5);
  Show();
  auto names = [this] {
    std::vector<std::string> out;
    for (int i = 0; i < grid_->Columns().Count(); ++i)
      out.push_back(grid_->Columns()[i]->FieldName());
    return out;
  };
  EXPECT_EQ(names(), (std::vector<std::string>{"NAME", "PRICE", "BORN", "OK", "NOTE"}));
  EXPECT_EQ(grid_->ColCount(), 6);
  F("PRICE")->SetVisible(false);
  F("NOTE")->SetVisible(false);
  table_->NotifyLinks(data::DataEvent::LayoutChange);
  EXPECT_EQ(names(), (std::vector<std::string>{"NAME", "BORN", "OK"}));
  EXPECT_EQ(grid_->ColCount(), 4);
  EXPECT_EQ(grid_->DataLink().FieldMap(), (std::vector<int>{0, 2, 3}));
  F("PRICE")->SetVisible(true);
  table_->NotifyLinks(data::DataEvent::LayoutChange);
  EXPECT_EQ(names(), (std::vector<std::string>{"NAME", "PRICE", "BORN", "OK"}));
  // Closing the table leaves one unbound column.
  table_->Close();
  EXPECT_EQ(grid_->Columns().Count(), 1);
  EXPECT_EQ(grid_->ColumnField(0), nullptr);
  table_->Open();
  EXPECT_EQ(names(), (std::vector<std::string>{"NAME", "PRICE", "BORN", "OK", "NOTE"}));
}

TEST_F(GridLayoutTest, APersistentColumnWithoutItsFieldStaysEmpty) {
  Open(5);
  PersistentColumns({"NAME", "NOPE", "PRICE"});
  Show();
  EXPECT_EQ(grid_->DataLink().FieldMap(), (std::vector<int>{0, -1, 1}));
  EXPECT_EQ(grid_->ColumnField(1), nullptr);
  EXPECT_EQ(grid_->Columns().Count(), 3);
  next_->setFocus();
  const QImage image = Grab();
  for (int row = 1; row <= 5; ++row) {
    const QRect cell = grid_->CellRect(2, row);
    for (int x = cell.left(); x <= cell.right(); x += 2)
      for (int y = cell.top(); y <= cell.bottom(); y += 2)
        ASSERT_EQ(Pixel(image, QPoint(x, y)), grid_->Color()) << row << ":" << x << "," << y;
  }
  // Its neighbours show their fields.
  EXPECT_EQ(grid_->ColumnField(2)->FieldName(), "PRICE");
  grid_->setFocus();
  grid_->SetSelectedIndex(1);
  Key(Qt::Key_F2);
  EXPECT_FALSE(grid_->EditorShown());
}

TEST_F(GridLayoutTest, DefineFieldMapAddsEntriesUpToTheLimit) {
  Open(5);
  Show();
  grid_->OnDefineFieldMap = [](DataGrid& g) { g.DataLink().AddMapping(0); };
  grid_->LayoutNow();
  EXPECT_EQ(grid_->DataLink().FieldMap(), (std::vector<int>{0, 1, 2, 3, 4, 0}));
  EXPECT_EQ(grid_->Columns().Count(), 6);
  EXPECT_EQ(grid_->ColumnField(5)->FieldName(), "NAME");
  EXPECT_EQ(grid_->ColCount(), 7);

  // With persistent columns the map holds 16380 entries at most.
  PersistentColumns({"NAME"});
  grid_->OnDefineFieldMap = [](DataGrid& g) {
    while (g.DataLink().FieldMap().size() < 16380) g.DataLink().AddMapping(1);
  };
  EXPECT_NO_THROW(grid_->LayoutNow());
  EXPECT_EQ(grid_->DataLink().FieldMap().size(), 16380u);
  grid_->OnDefineFieldMap = [](DataGrid& g) {
    while (g.DataLink().FieldMap().size() < 16381) g.DataLink().AddMapping(1);
  };
  try {
    grid_->LayoutNow();
    ADD_FAILURE() << "no error";
  } catch (const data::DatabaseError& e) {
    EXPECT_STREQ(e.what(), "Too many columns in grid");
  }
  EXPECT_EQ(grid_->DataLink().FieldMap().size(), 16380u);
  // The grid lays itself out again afterwards.
  grid_->OnDefineFieldMap = nullptr;
  grid_->LayoutNow();
  EXPECT_EQ(grid_->DataLink().FieldMap(), std::vector<int>{0});
  EXPECT_EQ(grid_->ColCount(), 2);
  Key(Qt::Key_Down);
  EXPECT_EQ(Current(), "Game 002");
}

// ---------------------------------------------------------------------------
// Repaints after notifications; the drawing events

class GridNotifyTest : public GridEditFixture {
 protected:
  QRegion Painted(const std::function<void()>& action) {
    QApplication::processEvents();
    PaintLog log;
    grid_->viewport()->installEventFilter(&log);
    action();
    QApplication::processEvents();
    grid_->viewport()->removeEventFilter(&log);
    return log.painted;
  }
  // The data area: every row below the titles, every column.
  QRect DataArea() const {
    const QRect first = grid_->CellRect(0, 1);
    const QRect last = grid_->CellRect(grid_->ColCount() - 1, grid_->RowCount() - 1);
    return QRect(first.topLeft(), last.bottomRight());
  }
};

TEST_F(GridNotifyTest, AChangedFieldRepaintsOnlyItsColumn) {
  Open(10);
  Show();
  next_->setFocus();
  table_->Edit();
  const QRegion painted = Painted([&] { F("PRICE")->SetAsString("99.25"); });
  ASSERT_FALSE(painted.isEmpty());
  const QRect column = grid_->CellRect(2, 1);
  const QRect bounds = painted.boundingRect();
  EXPECT_GE(bounds.left(), column.left());
  EXPECT_LE(bounds.right(), column.right() + 1);
  EXPECT_GE(bounds.top(), column.top());
  EXPECT_TRUE(painted.contains(column.adjusted(0, 0, -1, -1)));
  EXPECT_TRUE(painted.contains(grid_->CellRect(2, grid_->RowCount() - 1).adjusted(0, 0, -1, -1)));
  // What was painted shows the new value.
  table_->Post();
  EXPECT_EQ(Stored(1).substr(kPriceAt, 8), "   99.25");
}

TEST_F(GridNotifyTest, AnEditingStateChangeRepaintsTheIndicatorCell) {
  Open(10);
  Show();
  next_->setFocus();
  table_->Next();
  table_->Next();
  table_->DisableControls();  // the editing state still reaches the grid
  const QRegion painted = Painted([&] { table_->Edit(); });
  EXPECT_EQ(painted.boundingRect(), grid_->CellRect(0, 3).adjusted(0, 0, 1, 1));
  // Without the indicator there is nothing to repaint.
  table_->Cancel();
  table_->EnableControls();
  grid_->SetGridOptions(kDefaultGridOptions & ~dgIndicator);
  table_->DisableControls();
  EXPECT_TRUE(Painted([&] { table_->Edit(); }).isEmpty());
  table_->Cancel();
  table_->EnableControls();
}

TEST_F(GridNotifyTest, AChangedDataSetRepaintsEverything) {
  Open(10);
  Show();
  next_->setFocus();
  const QRegion painted = Painted([&] { table_->Refresh(); });
  EXPECT_TRUE(painted.contains(DataArea().adjusted(0, 0, -1, -1)));
}

TEST_F(GridNotifyTest, WithoutDefaultDrawingOnlyTheDrawingEventsPaintDataCells) {
  Open(6);
  Show();
  const QColor paint(200, 0, 200);
  std::vector<std::string> dataCells;
  std::set<std::pair<int, int>> columnCells;
  bool rectsMatch = true;
  grid_->OnDrawDataCell = [&](DataGrid& g, const QRect&, data::Field* f, unsigned) {
    dataCells.push_back(f ? f->FieldName() + "=" +
                                g.DataLink().DataSet()->FieldByName("NAME")->AsString()
                          : std::string("-"));
  };
  grid_->OnDrawColumnCell = [&](DataGrid& g, const QRect& r, int dataCol, GridColumn* column,
                                unsigned) {
    ASSERT_NE(g.Canvas(), nullptr);
    g.Canvas()->fillRect(r, paint);
    const int row = g.DataLink().DataSet()->RecNo() + g.TitleOffset() - 1;
    if (r != g.CellRect(dataCol + g.IndicatorOffset(), row)) rectsMatch = false;
    if (column != g.Columns()[dataCol]) rectsMatch = false;
    columnCells.insert({dataCol, row});
  };
  grid_->SetDefaultDrawing(false);
  const QImage image = Grab();
  EXPECT_TRUE(rectsMatch);
  EXPECT_EQ(columnCells.size(), 5u * 6u);
  EXPECT_NE(std::find(dataCells.begin(), dataCells.end(), "BORN=Game 004"), dataCells.end());
  EXPECT_NE(std::find(dataCells.begin(), dataCells.end(), "NAME=Game 006"), dataCells.end());
  // Every pixel of every data cell is the events' colour: no text, no
  // highlight, no focus rectangle, even on the current cell.
  ASSERT_TRUE(grid_->hasFocus());
  for (int row = 1; row <= 6; ++row)
    for (int col = 1; col <= 5; ++col) {
      const QRect cell = grid_->CellRect(col, row);
      for (int x = cell.left(); x <= cell.right(); ++x)
        for (int y = cell.top(); y <= cell.bottom(); ++y)
          ASSERT_EQ(Pixel(image, QPoint(x, y)), paint)
              << col << "," << row << " at " << x << "," << y;
    }
  EXPECT_EQ(grid_->Canvas(), nullptr);  // only while painting

  // With default drawing the events draw over the grid's text.
  grid_->SetDefaultDrawing(true);
  grid_->OnDrawColumnCell = nullptr;
  dataCells.clear();
  const QImage drawn = Grab();
  EXPECT_EQ(dataCells.size(), 5u * 6u);
  EXPECT_NE(Pixel(drawn, grid_->CellRect(1, 2).center()), paint);
}

// ---------------------------------------------------------------------------
// Row colours

class GridColoursTest : public GridEditFixture {};

TEST_F(GridColoursTest, ColoursSetPerRowAreUsed) {
  Open(8, {4});
  const QColor yellow(Qt::yellow), blue(Qt::blue), green(0, 160, 0), white(Qt::white),
      brown(120, 60, 0), cyan(Qt::cyan);
  std::vector<int> rows;
  grid_->OnChangeColorsEvent = [&](DataGrid& g, int curRow, RowColorSet& c) {
    rows.push_back(curRow);
    const std::string name = g.DataLink().DataSet()->FieldByName("NAME")->AsString();
    c.Indicator = cyan;
    if (name == "Game 002") {
      c.Cell = yellow;
      c.CellText = blue;
    }
    c.Hilite = green;
    c.HiliteText = white;
    c.Deleted = brown;
  };
  Show();
  Key(Qt::Key_Down);
  Key(Qt::Key_Down);  // Game 003 current
  const QImage image = Grab();
  EXPECT_EQ(Pixel(image, Blank(2, 2)), yellow);
  EXPECT_EQ(Pixel(image, Blank(1, 3)), green);  // the current cell
  EXPECT_EQ(Pixel(image, Blank(2, 3)), grid_->Color());
  EXPECT_EQ(Pixel(image, Blank(2, 4)), brown);
  EXPECT_EQ(Pixel(image, Blank(2, 1)), grid_->Color());
  const QRect indicator = grid_->CellRect(0, 2);
  EXPECT_EQ(Pixel(image, indicator.topLeft() + QPoint(3, 3)), cyan);
  // The text of the yellow row is blue.
  const QRect cell = grid_->CellRect(1, 2);
  int blueInk = 0;
  for (int x = cell.left(); x < cell.left() + 40; ++x)
    for (int y = cell.top(); y <= cell.bottom(); ++y)
      if (Pixel(image, QPoint(x, y)) == blue) ++blueInk;
  EXPECT_GT(blueInk, 0);
  EXPECT_NE(std::find(rows.begin(), rows.end(), 1), rows.end());
}

TEST_F(GridColoursTest, RowsScrolledIntoViewShowTheirRecordsInTheirColours) {
  Open(80);
  // A fixed data column and no indicator: the rows that come into view are
  // painted without the grid's first column.
  grid_->SetGridOptions(kDefaultGridOptions & ~dgIndicator);
  grid_->SetFixedColumns(1);
  grid_->OnChangeColorsEvent = [&](DataGrid& g, int, RowColorSet& c) {
    const std::string name = g.DataLink().DataSet()->FieldByName("NAME")->AsString();
    if (name.back() == '0') c.Cell = Qt::yellow;  // every tenth game
  };
  Show();
  next_->setFocus();
  const int visible = grid_->VisibleRowCount();
  ASSERT_GT(visible, 5);
  ASSERT_EQ(grid_->FixedCols(), 1);
  // Moves by fewer rows than are visible scroll the pixels: what stands
  // on the screen must be what a full repaint gives.
  const int moves[] = {visible - 1, 1, 3, visible - 2, -2, -(visible - 1), 5};
  for (int move : moves) {
    table_->MoveBy(move);
    const QImage screen = Screen();
    const QImage full = Grab();
    ASSERT_EQ(screen.size(), full.size());
    int differing = 0;
    for (int y = 0; y < full.height(); ++y)
      for (int x = 0; x < full.width(); ++x)
        if (screen.pixel(x, y) != full.pixel(x, y)) ++differing;
    EXPECT_EQ(differing, 0) << "after a move by " << move << " to " << Current();
  }
  // And the yellow rows are those of the tenth games.
  const QImage full = Grab();
  for (int row = 1; row <= visible; ++row) {
    const int saved = grid_->DataLink().ActiveRecord();
    grid_->DataLink().SetActiveRecord(row - 1);
    const std::string name = Current();
    grid_->DataLink().SetActiveRecord(saved);
    EXPECT_EQ(Pixel(full, Blank(1, row)),
              name.back() == '0' ? QColor(Qt::yellow) : Rgb(grid_->Color()))
        << name;
  }
}

// ---------------------------------------------------------------------------
// The scroll bar of a table in record order

class GridSequencedTest : public GridEditFixture {};

TEST_F(GridSequencedTest, TheBarRunsOverTheRecordNumbers) {
  Open(100);
  Show();
  ASSERT_TRUE(table_->IsSequenced());
  const int visible = grid_->VisibleRowCount();
  QScrollBar* bar = grid_->verticalScrollBar();
  EXPECT_TRUE(bar->isVisible());
  EXPECT_EQ(bar->minimum(), 1);
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_EQ(bar->pageStep(), visible);
  EXPECT_EQ(bar->value(), 1);
  Key(Qt::Key_Down);
  Key(Qt::Key_Down);
  EXPECT_EQ(bar->value(), 3);
  Key(Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(bar->value(), 100);
  Key(Qt::Key_PageUp);
  EXPECT_EQ(bar->value(), 100 - visible);

  auto release = [&](int pos) {
    bar->setSliderDown(true);
    bar->setSliderPosition(pos);
    bar->setSliderDown(false);
  };
  release(50);
  EXPECT_EQ(table_->RecNo(), 50);
  EXPECT_EQ(Current(), "Game 050");
  EXPECT_EQ(bar->value(), 50);
  release(1);
  EXPECT_EQ(Current(), "Game 001");
  EXPECT_EQ(grid_->Row(), 1);
  release(77);
  EXPECT_EQ(Current(), "Game 077");
  release(100);
  EXPECT_EQ(Current(), "Game 100");
  EXPECT_EQ(bar->value(), 100);
  release(2);
  EXPECT_EQ(Current(), "Game 002");
  release(99);
  EXPECT_EQ(Current(), "Game 099");

  // Line and page steps move as on any table.
  bar->triggerAction(QAbstractSlider::SliderToMinimum);
  EXPECT_EQ(Current(), "Game 001");
  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(Current(), Name(1 + visible));
  EXPECT_EQ(bar->value(), 1 + visible);
}

TEST_F(GridSequencedTest, MovingTheBarDoesNotRepaintTheRows) {
  Open(100);
  Show();
  next_->setFocus();
  const int visible = grid_->VisibleRowCount();
  for (int i = 1; i < visible; ++i) table_->Next();
  ASSERT_EQ(grid_->Row(), visible);
  QApplication::processEvents();
  const int before = grid_->verticalScrollBar()->value();
  PaintLog log;
  grid_->viewport()->installEventFilter(&log);
  table_->Next();
  QApplication::processEvents();
  grid_->viewport()->removeEventFilter(&log);
  EXPECT_EQ(grid_->verticalScrollBar()->value(), before + 1);
  // The new bottom row and its indicator; the rows above moved up.
  const QRect bottom = grid_->CellRect(1, visible);
  ASSERT_GT(log.events, 0);
  EXPECT_TRUE(log.painted.contains(bottom.adjusted(0, 0, -1, -1)));
  EXPECT_FALSE(log.painted.contains(grid_->CellRect(1, visible / 2).center()));
  EXPECT_FALSE(log.painted.contains(grid_->CellRect(2, 2).center()));
}

TEST_F(GridSequencedTest, TheBarFollowsDeletedRecordsAndStaysDuringAnInsert) {
  Open(60, {10, 11, 12}, /*hideDeleted=*/true);
  Show();
  QScrollBar* bar = grid_->verticalScrollBar();
  EXPECT_EQ(bar->maximum(), 60);
  bar->setSliderDown(true);
  bar->setSliderPosition(20);
  bar->setSliderDown(false);
  EXPECT_EQ(Current(), "Game 020");
  EXPECT_EQ(bar->value(), 20);
  Key(Qt::Key_Insert);
  EXPECT_EQ(State(), data::DataSetState::Insert);
  EXPECT_EQ(bar->value(), 20);
  Key(Qt::Key_Escape);
  EXPECT_EQ(State(), data::DataSetState::Browse);
}

}  // namespace
}  // namespace vz::views
