// The data-bound memo and its field link over a real table: following the
// table's current record, the read-only cheat text of the main window,
// AutoDisplay, editing through a writable table, the caption label and
// field resolution.
#include <gtest/gtest.h>

// The table's headers come before Qt's: the index engine has a member
// named like Qt's "slots" keyword macro.
#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/CheatViews.h"
#include "platform/hooks.h"
#include "tests/support/TableFixture.h"
#include "views/DataMemo.h"

namespace vz::views {
namespace {

using data::DataSetState;
using test::Cheat;

std::string LongText() {
  std::string text;
  for (int i = 1; i <= 300; ++i) text += "line " + std::to_string(i) + "\r\n";
  return text + "the end";
}

QString Lf(const std::string& crlf) {
  QString s = QString::fromLatin1(crlf.c_str());
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return s;
}

class MemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetAll();
    platform::SetMessagePresenter([this](const std::string& m) { messages_.push_back(m); });
    form_ = std::make_unique<QWidget>();
    form_->resize(640, 480);
    memo_ = new DataMemo(form_.get());
    memo_->setObjectName("TzMemo1");
    memo_->setGeometry(200, 100, 300, 200);
    other_ = new QLineEdit(form_.get());
    other_->setGeometry(10, 440, 100, 24);
  }

  void TearDown() override {
    form_.reset();
    table_.reset();
    platform::SetMessagePresenter(nullptr);
    test::ResetAll();
  }

  void Show() {
    form_->show();
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
  }

  // Names in name order: Abuse, Blood, Doom, Quake.
  static std::vector<Cheat> Cheats() {
    return {{"Quake", "Caf\x82 au lait"},
            {"Abuse", "Line one\r\nLine two"},
            {"Doom", ""},
            {"Blood", LongText()}};
  }

  DbfTable& Open(bool writable = false) {
    test::WriteCheatTable(dir_.File("pc"), Cheats());
    return OpenExisting(writable);
  }

  DbfTable& OpenExisting(bool writable) {
    table_ = std::make_unique<DbfTable>();
    test::ConfigureLikeCheatDbf(*table_, "1," + dir_.File("cheat.ndx") + ",CHEATNAME");
    if (writable) {
      table_->ReadOnly = false;
      table_->SetExclusive(true);
    }
    source_.SetDataSet(table_.get());
    table_->SetDbfFileName(dir_.File("pc"));
    table_->Open();
    table_->First();
    return *table_;
  }

  void Bind() {
    memo_->SetDataSource(&source_);
    memo_->SetDataField("CHEATMEMO");
  }

  QString Text() const { return memo_->toPlainText(); }
  void Type(const QString& text) {
    for (QChar c : text)
      QTest::sendKeyEvent(QTest::Click, memo_, Qt::Key_unknown, QString(c), Qt::NoModifier);
  }

  test::TempDir dir_;
  std::unique_ptr<DbfTable> table_;
  data::DataSource source_;
  std::unique_ptr<QWidget> form_;
  DataMemo* memo_ = nullptr;
  QLineEdit* other_ = nullptr;
  std::vector<std::string> messages_;
};

// --- Following the table ---------------------------------------------------------------------

TEST_F(MemoTest, ShowsEachRecordsWholeTextFromItsFirstLine) {
  Show();
  app::ConfigureCheatTextMemo(*memo_);
  DbfTable& t = Open();
  Bind();
  EXPECT_EQ(Text(), "Line one\nLine two");
  EXPECT_TRUE(memo_->Loaded());

  t.Next();
  EXPECT_EQ(Text(), Lf(LongText()));
  QApplication::processEvents();
  QScrollBar* bar = memo_->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  memo_->moveCursor(QTextCursor::End);
  bar->setValue(bar->maximum());

  // An empty memo field: an empty control.
  t.Next();
  EXPECT_EQ(Text(), "");
  EXPECT_TRUE(memo_->Loaded());

  // Back to the long text: shown from its first line again.
  t.Prior();
  QApplication::processEvents();
  EXPECT_EQ(Text(), Lf(LongText()));
  EXPECT_EQ(bar->value(), 0);
  EXPECT_EQ(memo_->textCursor().position(), 0);
  EXPECT_EQ(memo_->cursorForPosition(QPoint(2, 2)).blockNumber(), 0);

  // A search moves the table: OEM 0x82 is an e with an acute accent.
  t.LocateRec("cheatname", "quake");
  EXPECT_EQ(Text(), QString::fromUtf8("Caf\u00e9 au lait"));
  t.First();
  EXPECT_EQ(Text(), "Line one\nLine two");
  t.Last();
  EXPECT_EQ(Text(), QString::fromUtf8("Caf\u00e9 au lait"));

  // Closing the table empties the control.
  t.Close();
  EXPECT_EQ(Text(), "");
  EXPECT_FALSE(memo_->Loaded());
  EXPECT_EQ(memo_->Field(), nullptr);
  t.Open();
  EXPECT_EQ(Text(), "Line one\nLine two");
}

TEST_F(MemoTest, CheatTextIsReadOnlyButCanBeSelectedAndCopied) {
  for (const bool writableTable : {false, true}) {
    SCOPED_TRACE(writableTable ? "writable table" : "read-only table");
    TearDown();
    SetUp();
    Show();
    app::ConfigureCheatTextMemo(*memo_);
    EXPECT_TRUE(memo_->ReadOnly());
    EXPECT_EQ(memo_->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(memo_->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_TRUE(QFontInfo(memo_->font()).fixedPitch());
    DbfTable& t = Open(writableTable);
    Bind();
    memo_->setFocus();
    ASSERT_TRUE(memo_->hasFocus());
    QApplication::clipboard()->setText("pasted");

    QTest::keyClicks(memo_, "xyz");
    QTest::keyClick(memo_, Qt::Key_Backspace);
    QTest::keyClick(memo_, Qt::Key_Delete);
    QTest::keyClick(memo_, Qt::Key_Return);
    QTest::keyClick(memo_, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(memo_, Qt::Key_Insert, Qt::ShiftModifier);
    memo_->PasteFromClipboard();
    EXPECT_EQ(Text(), "Line one\nLine two");
    EXPECT_EQ(t.State(), DataSetState::Browse);
    EXPECT_FALSE(memo_->DataLink().Editing());
    EXPECT_TRUE(memo_->isReadOnly());

    QTest::keyClick(memo_, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(memo_, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "Line one\nLine two");
    QTest::keyClick(memo_, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(Text(), "Line one\nLine two");

    // Leaving the control writes nothing, and the table moves on.
    other_->setFocus();
    EXPECT_TRUE(messages_.empty());
    t.Next();
    EXPECT_EQ(t.State(), DataSetState::Browse);
    EXPECT_EQ(Text(), Lf(LongText()));
  }
}

TEST_F(MemoTest, WithoutAutoDisplayShowsMemoUntilAskedFor) {
  Show();
  memo_->SetAutoDisplay(false);
  DbfTable& t = Open(true);
  Bind();
  EXPECT_EQ(Text(), "(Memo)");
  EXPECT_FALSE(memo_->Loaded());
  memo_->setFocus();

  // Keys are swallowed until Enter: even a writable link does not edit.
  QTest::keyClicks(memo_, "ab");
  QTest::keyClick(memo_, Qt::Key_Delete);
  QTest::keyClick(memo_, Qt::Key_Backspace);
  EXPECT_EQ(Text(), "(Memo)");
  EXPECT_EQ(t.State(), DataSetState::Browse);
  QTest::keyClick(memo_, Qt::Key_Return);
  EXPECT_EQ(Text(), "Line one\nLine two");
  EXPECT_TRUE(memo_->Loaded());

  t.Next();
  EXPECT_EQ(Text(), "(Memo)");
  QTest::mouseDClick(memo_->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
  EXPECT_EQ(Text(), Lf(LongText()));
  // Once loaded, a double click is an ordinary one: it selects a word.
  QTest::mouseDClick(memo_->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 5));
  EXPECT_FALSE(memo_->textCursor().selectedText().isEmpty());

  t.Prior();
  EXPECT_EQ(Text(), "(Memo)");
  // Switching AutoDisplay on loads the text at once.
  memo_->SetAutoDisplay(true);
  EXPECT_EQ(Text(), "Line one\nLine two");
  t.Next();
  EXPECT_EQ(Text(), Lf(LongText()));
}

TEST_F(MemoTest, ATextBeyondTheLimitShowsItsMessageInParentheses) {
  Show();
  memo_->SetTextLimit(20);
  DbfTable& t = Open();
  Bind();
  EXPECT_EQ(Text(), "Line one\nLine two");
  t.Next();
  EXPECT_TRUE(Text().startsWith("(Text of 2"));
  EXPECT_TRUE(Text().contains("exceeds the memo's limit of 20"));
  EXPECT_TRUE(Text().endsWith(")"));
  EXPECT_FALSE(memo_->Loaded());
  t.Next();
  EXPECT_EQ(Text(), "");
  EXPECT_TRUE(memo_->Loaded());
}

// --- Editing through a writable table ------------------------------------------------------

TEST_F(MemoTest, TypingEditsTheRecordAndLeavingWritesIt) {
  Show();
  DbfTable& t = Open(true);
  Bind();
  memo_->setFocus();
  EXPECT_TRUE(memo_->isReadOnly());  // until the link edits

  QTest::keyClick(memo_, Qt::Key_End, Qt::ControlModifier);
  Type("!");
  EXPECT_EQ(t.State(), DataSetState::Edit);
  EXPECT_TRUE(memo_->DataLink().Editing());
  EXPECT_TRUE(memo_->DataLink().IsModified());
  EXPECT_FALSE(memo_->isReadOnly());
  // Entering edit state kept the caret where the user had it.
  EXPECT_EQ(Text(), "Line one\nLine two!");
  QTest::keyClick(memo_, Qt::Key_Return);
  Type(QString::fromUtf8("\u00e9t\u00e9"));
  EXPECT_EQ(Text(), QString::fromUtf8("Line one\nLine two!\n\u00e9t\u00e9"));

  // Leaving the control writes the field; moving posts the record.
  data::Field* memoField = t.FieldByName("cheatmemo");
  other_->setFocus();
  EXPECT_EQ(memoField->AsString(), "Line one\r\nLine two!\r\n\xE9t\xE9");
  EXPECT_FALSE(memo_->DataLink().IsModified());
  t.Next();
  EXPECT_EQ(t.State(), DataSetState::Browse);
  EXPECT_FALSE(memo_->DataLink().Editing());
  EXPECT_TRUE(memo_->isReadOnly());
  EXPECT_EQ(Text(), Lf(LongText()));

  // Delete starts editing too; moving writes without leaving the control.
  memo_->setFocus();
  QTest::keyClick(memo_, Qt::Key_Delete);
  QTest::keyClick(memo_, Qt::Key_Delete);
  QTest::keyClick(memo_, Qt::Key_Delete);
  QTest::keyClick(memo_, Qt::Key_Delete);
  QTest::keyClick(memo_, Qt::Key_Delete);
  EXPECT_TRUE(Text().startsWith("1\n"));
  t.Next();
  EXPECT_EQ(Text(), "");

  // Paste into the empty memo of Doom.
  QApplication::clipboard()->setText("from the clipboard");
  QTest::keyClick(memo_, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(t.State(), DataSetState::Edit);
  EXPECT_EQ(Text(), "from the clipboard");
  t.Next();  // Quake

  memo_->SetDataSource(nullptr);
  table_.reset();
  test::ResetAll();
  // A fresh table reads the file back.
  DbfTable& fresh = OpenExisting(false);
  data::Field* text = fresh.FieldByName("cheatmemo");
  EXPECT_EQ(text->AsString(), "Line one\r\nLine two!\r\n\xE9t\xE9");
  fresh.Next();
  EXPECT_EQ(text->AsString(), LongText().substr(5));
  fresh.Next();
  EXPECT_EQ(text->AsString(), "from the clipboard");
  fresh.Next();
  EXPECT_EQ(text->AsString(), "Caf\xE9 au lait");
}

// A text set through the field object while controls show the field: the
// write stream tells them that the field changed, they read it at once
// (and again when the stream is done), and the new text must still be the
// one stored, with every other record's text as it was.
TEST_F(MemoTest, ATextSetThroughTheFieldIsStoredWhileControlsShowIt) {
  Show();
  auto* second = new DataMemo(form_.get());
  second->setGeometry(10, 100, 180, 200);
  struct Case {
    const char* name;
    int controls;
    bool autoDisplay;
  };
  for (const Case& c : {Case{"one control", 1, true}, Case{"two controls", 2, true},
                        Case{"without AutoDisplay", 1, false}, Case{"no control", 0, true}}) {
    SCOPED_TRACE(c.name);
    memo_->SetAutoDisplay(c.autoDisplay);
    DbfTable& t = Open(true);
    if (c.controls >= 1) Bind();
    if (c.controls == 2) {
      second->SetDataSource(&source_);
      second->SetDataField("CHEATMEMO");
    }
    data::Field* text = t.FieldByName("cheatmemo");
    const std::string written = std::string("Written with ") + c.name + "\r\nand a second line";
    // Abuse, Blood (a long text) and Doom (no memo before).
    for (int record = 0; record < 3; ++record) {
      t.Edit();
      text->SetAsString(written + " " + std::to_string(record));
      t.Post();
      EXPECT_EQ(text->AsString(), written + " " + std::to_string(record));
      if (c.controls >= 1 && c.autoDisplay) {
        EXPECT_EQ(Text().toStdString(), Lf(written + " " + std::to_string(record)).toStdString());
      }
      if (c.controls == 2) {
        EXPECT_EQ(second->toPlainText().toStdString(),
                  Lf(written + " " + std::to_string(record)).toStdString());
      }
      t.Next();
    }
    memo_->SetDataSource(nullptr);
    second->SetDataSource(nullptr);
    table_.reset();
    test::ResetAll();
    DbfTable& fresh = OpenExisting(false);
    const char* const kNames[] = {"Abuse", "Blood", "Doom"};
    data::Field* stored = fresh.FieldByName("cheatmemo");
    for (int record = 0; record < 3; ++record) {
      EXPECT_EQ(fresh.FieldByName("cheatname")->AsString(), kNames[record]);
      EXPECT_EQ(stored->AsString(), written + " " + std::to_string(record));
      fresh.Next();
    }
    EXPECT_EQ(stored->AsString(), "Caf\xE9 au lait");
    table_.reset();
    test::ResetAll();
  }
}

TEST_F(MemoTest, EscapeDropsThePendingChangeAndUnstorableCharactersAreRefused) {
  Show();
  DbfTable& t = Open(true);
  Bind();
  memo_->setFocus();
  Type("XY");
  EXPECT_EQ(Text(), "XYLine one\nLine two");
  EXPECT_TRUE(memo_->DataLink().IsModified());
  QTest::keyClick(memo_, Qt::Key_Escape);
  EXPECT_EQ(Text(), "Line one\nLine two");
  EXPECT_FALSE(memo_->DataLink().IsModified());
  // Still in edit state: leaving writes nothing changed.
  other_->setFocus();
  EXPECT_EQ(t.FieldByName("cheatmemo")->AsString(), "Line one\r\nLine two");
  t.Cancel();
  EXPECT_EQ(t.State(), DataSetState::Browse);

  // A character the table's code pages cannot hold: refused, no editing.
  memo_->setFocus();
  Type(QString::fromUtf8("\u6f22\u20ac"));
  EXPECT_EQ(Text(), "Line one\nLine two");
  EXPECT_EQ(t.State(), DataSetState::Browse);

  // Cancelling an edit shows the stored text again.
  Type("Q");
  EXPECT_EQ(t.State(), DataSetState::Edit);
  t.Cancel();
  EXPECT_EQ(Text(), "Line one\nLine two");
  EXPECT_TRUE(memo_->isReadOnly());
}

TEST_F(MemoTest, ReadOnlyMemoOverAWritableTableAndTheContextMenu) {
  Show();
  DbfTable& t = Open(true);
  Bind();
  QApplication::clipboard()->setText("menu paste");
  auto pasteThroughMenu = [&] {
    bool seen = false, enabled = false;
    QTimer::singleShot(0, [&] {
      QMenu* menu = nullptr;
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* m = qobject_cast<QMenu*>(w); m && m->isVisible()) menu = m;
      ASSERT_NE(menu, nullptr);
      for (QAction* a : menu->actions())
        if (a->objectName() == "edit-paste") {
          seen = true;
          enabled = a->isEnabled();
          if (enabled) a->trigger();
        }
      menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            memo_->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(memo_->viewport(), &event);
    return seen && enabled;
  };
  memo_->SetReadOnly(true);
  EXPECT_FALSE(pasteThroughMenu());
  EXPECT_EQ(t.State(), DataSetState::Browse);
  memo_->SetReadOnly(false);
  EXPECT_TRUE(pasteThroughMenu());
  EXPECT_EQ(t.State(), DataSetState::Edit);
  EXPECT_EQ(Text(), "menu pasteLine one\nLine two");
  // Switching ReadOnly on during an edit ends the link's editing.
  memo_->SetReadOnly(true);
  EXPECT_FALSE(memo_->DataLink().Editing());
  EXPECT_TRUE(memo_->isReadOnly());
}

TEST_F(MemoTest, AFailedWriteOnLeavingKeepsTheFocusAndIsReported) {
  Show();
  DbfTable& t = Open(true);
  Bind();
  memo_->setFocus();
  Type("Z");
  ASSERT_EQ(t.State(), DataSetState::Edit);
  memo_->DataLink().OnUpdateData = [] { throw data::DatabaseError("write refused"); };
  other_->setFocus();
  EXPECT_EQ(messages_, std::vector<std::string>{"write refused"});
  EXPECT_EQ(QApplication::focusWidget(), memo_);
  EXPECT_EQ(Text(), "ZLine one\nLine two");
}

// --- The field link ----------------------------------------------------------------------------

TEST_F(MemoTest, FieldLinkStateAndHandlers) {
  DbfTable& t = Open(true);
  FieldDataLink link;
  int dataChanges = 0, editingChanges = 0, updates = 0, activeChanges = 0;
  link.OnDataChange = [&] { ++dataChanges; };
  link.OnEditingChange = [&] { ++editingChanges; };
  link.OnUpdateData = [&] { ++updates; };
  link.OnActiveChange = [&] { ++activeChanges; };
  link.SetFieldName("cheatmemo");
  link.SetDataSource(&source_);
  EXPECT_EQ(activeChanges, 1);
  ASSERT_NE(link.Field(), nullptr);
  EXPECT_EQ(link.Field()->FieldName(), "CHEATMEMO");
  EXPECT_GE(dataChanges, 1);

  // A read-only link never edits.
  link.SetReadOnly(true);
  EXPECT_FALSE(link.CanModify());
  EXPECT_FALSE(link.Edit());
  EXPECT_EQ(t.State(), DataSetState::Browse);
  link.SetReadOnly(false);
  EXPECT_TRUE(link.CanModify());
  EXPECT_TRUE(link.Edit());
  EXPECT_EQ(t.State(), DataSetState::Edit);
  EXPECT_EQ(editingChanges, 1);

  // Update data runs only for a modified link.
  link.UpdateRecord();
  EXPECT_EQ(updates, 0);
  link.Modified();
  link.UpdateRecord();
  EXPECT_EQ(updates, 1);
  EXPECT_FALSE(link.IsModified());

  // A change of another field is not the link's; its own field is.
  dataChanges = 0;
  link.Modified();
  t.DataChanged(t.FieldByName("cheatname"));
  EXPECT_EQ(dataChanges, 0);
  EXPECT_TRUE(link.IsModified());
  t.DataChanged(link.Field());
  EXPECT_EQ(dataChanges, 1);
  EXPECT_FALSE(link.IsModified());
  link.Modified();
  link.Reset();
  EXPECT_EQ(dataChanges, 2);
  EXPECT_FALSE(link.IsModified());

  t.Cancel();
  EXPECT_FALSE(link.Editing());
  EXPECT_EQ(editingChanges, 2);
  // Scrolling is a data change.
  dataChanges = 0;
  t.Next();
  EXPECT_EQ(dataChanges, 1);
  t.Close();
  EXPECT_EQ(activeChanges, 2);
  EXPECT_EQ(link.Field(), nullptr);
  link.SetDataSource(nullptr);

  // Field names are cut to 255 characters.
  link.SetFieldName(std::string(300, 'F'));
  EXPECT_EQ(link.FieldName().size(), 255u);
}

TEST_F(MemoTest, FieldResolutionFollowsDataFieldAndTheDataSet) {
  Show();
  DbfTable& t = Open();
  Bind();
  EXPECT_EQ(memo_->Field()->FieldName(), "CHEATMEMO");
  memo_->SetDataField("cheatname");
  EXPECT_EQ(memo_->Field()->FieldName(), "CHEATNAME");
  EXPECT_EQ(Text(), "Abuse");
  memo_->SetDataField("");
  EXPECT_EQ(memo_->Field(), nullptr);
  EXPECT_EQ(Text(), "");
  EXPECT_FALSE(memo_->Loaded());

  // A name the data set lacks fails on an active link...
  EXPECT_THROW(memo_->SetDataField("NOPE"), data::DatabaseError);
  EXPECT_EQ(memo_->Field(), nullptr);
  memo_->SetDataSource(nullptr);
  t.Close();
  // ... and when the link becomes active.
  memo_->SetDataSource(&source_);
  try {
    t.Open();
    ADD_FAILURE() << "opened with a field that does not exist";
  } catch (const data::DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("Field 'NOPE' not found"), std::string::npos);
  }
  t.Close();
  memo_->SetDataField("CHEATMEMO");
  t.Open();
  EXPECT_EQ(Text(), "Line one\nLine two");

  // A focus request for the memo's field takes the focus to it.
  other_->setFocus();
  t.NotifyLinks(data::DataEvent::FocusControl,
                reinterpret_cast<std::intptr_t>(t.FieldByName("cheatname")));
  EXPECT_TRUE(other_->hasFocus());
  t.NotifyLinks(data::DataEvent::FocusControl, reinterpret_cast<std::intptr_t>(memo_->Field()));
  EXPECT_TRUE(memo_->hasFocus());

  // A data source that goes away leaves the memo without one.
  {
    data::DataSource local;
    local.SetDataSet(&t);
    memo_->SetDataSource(&local);
    EXPECT_EQ(memo_->DataSource(), &local);
    EXPECT_EQ(Text(), "Line one\nLine two");
  }
  EXPECT_EQ(memo_->DataSource(), nullptr);
  EXPECT_EQ(Text(), "");
}

// --- Caption label -----------------------------------------------------------------------------

TEST_F(MemoTest, CaptionLabelIsMadePlacedMovedRenamedAndRemoved) {
  Show();
  EXPECT_EQ(memo_->CaptionPos(), CaptionPosition::cpDetached);
  memo_->SetCaption("Cheat:");
  auto* label = form_->findChild<QLabel*>("TzMemo1Caption");
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->parentWidget(), form_.get());
  EXPECT_TRUE(label->isVisible());
  EXPECT_EQ(label->text(), "Cheat:");
  EXPECT_EQ(memo_->Caption(), "Cheat:");
  EXPECT_EQ(memo_->CaptionPos(), CaptionPosition::cpLeft);
  const int w = label->sizeHint().width(), h = label->sizeHint().height();
  EXPECT_EQ(label->width(), w);
  // Left of the memo: right edge 4 pixels left of it, top 4 pixels below
  // the memo's top.
  EXPECT_EQ(label->geometry().right() + 1, 200 - 4);
  EXPECT_EQ(label->y(), 100 + 4);
  EXPECT_TRUE(label->alignment().testFlag(Qt::AlignRight));

  struct Case {
    CaptionPosition pos;
    QRect expected;
    Qt::AlignmentFlag align;
  };
  const int L = 200, T = 100, W = 300, H = 200;
  const Case cases[] = {
      {CaptionPosition::cpRight, QRect(L + W + 4, T + 4, w, h), Qt::AlignLeft},
      {CaptionPosition::cpTopLeft, QRect(L, T - h - 4, w, h), Qt::AlignLeft},
      {CaptionPosition::cpTopRight, QRect(L + W - w, T - h - 4, w, h), Qt::AlignRight},
      {CaptionPosition::cpBottomLeft, QRect(L, T + H + 4, w, h), Qt::AlignLeft},
      {CaptionPosition::cpBottomRight, QRect(L + W - w, T + H + 4, w, h), Qt::AlignRight},
      {CaptionPosition::cpLeft, QRect(L - 4 - w, T + 4, w, h), Qt::AlignRight},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.pos));
    memo_->SetCaptionPos(c.pos);
    EXPECT_EQ(label->geometry(), c.expected);
    EXPECT_TRUE(label->alignment().testFlag(c.align));
  }

  // A longer text grows to the left at cpLeft.
  memo_->SetCaption("The cheat:");
  EXPECT_EQ(label->geometry().right() + 1, L - 4);
  EXPECT_GT(label->width(), w);

  // Moving and resizing the memo take the label along.
  memo_->move(260, 150);
  EXPECT_EQ(label->geometry().right() + 1, 256);
  EXPECT_EQ(label->y(), 154);
  memo_->SetCaptionPos(CaptionPosition::cpBottomRight);
  memo_->resize(200, 100);
  EXPECT_EQ(label->geometry().right() + 1, 460);
  EXPECT_EQ(label->y(), 254);
  // Detached, it stays where it is.
  memo_->SetCaptionPos(CaptionPosition::cpDetached);
  const QRect kept = label->geometry();
  memo_->move(20, 20);
  EXPECT_EQ(label->geometry(), kept);

  // Renaming the memo renames the label.
  memo_->setObjectName("CheatText");
  EXPECT_EQ(label->objectName(), "CheatTextCaption");
  EXPECT_EQ(memo_->Caption(), "The cheat:");

  // An empty caption removes the label.
  memo_->SetCaption("");
  EXPECT_EQ(form_->findChild<QLabel*>("CheatTextCaption"), nullptr);
  EXPECT_EQ(memo_->Caption(), "");
  EXPECT_EQ(memo_->CaptionLabel(), nullptr);
}

TEST_F(MemoTest, CaptionLabelIsFoundByNameAndForgottenWhenDeleted) {
  Show();
  // A label of that name elsewhere on the form is the memo's label: a
  // placing position brings it beside the memo.
  auto* panel = new QWidget(form_.get());
  panel->setGeometry(0, 0, 100, 100);
  panel->show();
  auto* label = new QLabel("Found", panel);
  label->setObjectName("TzMemo1Caption");
  label->show();
  EXPECT_EQ(memo_->Caption(), "Found");
  EXPECT_EQ(label->parentWidget(), panel);  // detached: left where it is
  memo_->SetCaptionPos(CaptionPosition::cpBottomLeft);
  EXPECT_EQ(label->parentWidget(), form_.get());
  EXPECT_TRUE(label->isVisible());
  EXPECT_EQ(label->pos(), QPoint(200, 304));

  // Deleted elsewhere: the memo forgets it and makes a new one on demand.
  delete label;
  EXPECT_EQ(memo_->Caption(), "");
  memo_->SetCaption("New");
  auto* made = form_->findChild<QLabel*>("TzMemo1Caption");
  ASSERT_NE(made, nullptr);
  // Not detached now, so it stays at the position it had.
  EXPECT_EQ(memo_->CaptionPos(), CaptionPosition::cpBottomLeft);
  EXPECT_EQ(made->pos(), QPoint(200, 304));

  // Destroying the memo leaves the label with the form.
  delete memo_;
  memo_ = nullptr;
  EXPECT_EQ(form_->findChild<QLabel*>("TzMemo1Caption"), made);
}

TEST_F(MemoTest, CaptionPosLeftWithoutCaptionPlacesNothing) {
  Show();
  memo_->SetCaptionPos(CaptionPosition::cpLeft);
  memo_->move(220, 120);
  memo_->resize(250, 150);
  EXPECT_TRUE(form_->findChildren<QLabel*>().isEmpty());
  EXPECT_EQ(memo_->Caption(), "");
  EXPECT_EQ(memo_->CaptionPos(), CaptionPosition::cpLeft);
  // A memo without a parent has nowhere to put a label.
  DataMemo lone;
  lone.SetCaption("Nowhere");
  EXPECT_EQ(lone.Caption(), "");
}

}  // namespace
}  // namespace vz::views
