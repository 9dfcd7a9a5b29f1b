// The reader's main window on a temporary program directory with generated
// tables: the machine box, start-up, the search box, switching machines,
// the index's place and life cycle, the Help menu, printing. Everything is
// driven through the widgets with real keys and mouse clicks.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>

#include "app/Application.h"
#include "app/MainWindow.h"
#include "app/ReleaseInfoDialog.h"
#include "app/TextPrinter.h"
#include "app/WebLinksDialog.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/indexes.h"
#include "platform/hooks.h"
#include "tests/gui/ReaderTestBase.h"
#include "tests/support/TableFixture.h"
#include "views/DataGrid.h"
#include "views/DataMemo.h"

namespace vz::app {
namespace {

using test::Cheat;

// Answers every modal box or window that opens, recording what it showed.
class ModalWatcher {
 public:
  struct Seen {
    QString kind;  // the class name
    QString title;
    QString text;  // a message box's text
    int icon = 0;  // a message box's icon
  };

  ModalWatcher() {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }
  std::vector<Seen> seen;

 private:
  void Poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w) return;
    Seen s{QString::fromLatin1(w->metaObject()->className()), w->windowTitle(), {}, 0};
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      s.text = box->text();
      s.icon = box->icon();
    }
    seen.push_back(s);
    w->close();
  }
  QTimer timer_;
};

std::string Name(const std::string& machine, int i) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%s game %03d", machine.c_str(), i);
  return buffer;
}

class MainWindowTest : public ReaderTestBase {
 protected:
  void CloseForms() override { form_.reset(); }

  // The machine's table with names in an order that differs from the record
  // order: records hold "<machine> game 020" down to "... 001", and records
  // 5 and 6 are "Snake" and "sniper" (so "s" finds record 5 and "sn" too).
  void WriteMachine(const std::string& base, const std::string& machine, bool memoFile = true) {
    std::vector<Cheat> cheats;
    for (int i = 20; i >= 1; --i)
      cheats.push_back({Name(machine, i), "Text of " + Name(machine, i)});
    cheats[4] = {"Snake " + machine, "Snake text"};
    cheats[5] = {"sniper " + machine, "Sniper text"};
    cheats.push_back({"Long " + machine, LongText()});
    cheats.push_back({"Empty " + machine, ""});
    test::WriteCheatTable(programDir_ + base, cheats);
    if (!memoFile) ::unlink((programDir_ + base + ".dbt").c_str());
  }
  static std::string LongText() {
    std::string text;
    for (int i = 1; i <= 150; ++i)
      text += "Line " + std::to_string(i) + " of the long cheat text\r\n";
    std::string wide;
    for (int i = 0; i < 30; ++i) wide += "wide" + std::to_string(i) + " ";
    return text + wide;
  }
  void WriteAll() {
    WriteMachine("pc", "PC");
    WriteMachine("n64", "N64");
    WriteMachine("psx", "PSX");
    WriteMachine("dream", "DC");
  }

  MainWindow& Start() {
    form_ = std::make_unique<MainWindow>(programDir_);
    form2_ = std::make_unique<WebLinksDialog>();
    form3_ = std::make_unique<ReleaseInfoDialog>(programDir_);
    form_->SetHelpWindows(form2_.get(), form3_.get());
    form_->show();
    form_->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(form_.get()));
    return *form_;
  }

  std::vector<QString> Machines() const {
    std::vector<QString> out;
    for (int i = 0; i < form_->MachineBox()->count(); ++i)
      out.push_back(form_->MachineBox()->itemText(i));
    return out;
  }
  std::string Current() const { return form_->CheatTable()->FieldByName("CHEATNAME")->AsString(); }
  int RecNo() const { return form_->CheatTable()->RecNo(); }
  QString MemoText() const { return form_->TextMemo()->toPlainText(); }
  std::string OpenFile() const { return platform::NameOf(form_->CheatTable()->DbfFileName()); }
  void Type(const QString& text) { QTest::keyClicks(form_->SearchBox(), text); }
  void ClearSearch() {
    form_->SearchBox()->setFocus();
    form_->SearchBox()->selectAll();
    QTest::keyClick(form_->SearchBox(), Qt::Key_Backspace);
  }
  void Pick(const QString& machine) { PickMachine(*form_, machine); }
  static bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

  std::unique_ptr<MainWindow> form_;
  std::unique_ptr<WebLinksDialog> form2_;
  std::unique_ptr<ReleaseInfoDialog> form3_;
};

// ---------------------------------------------------------------------------
// Start-up

TEST_F(MainWindowTest, AllFourMachinesListedAndTheFirstOpened) {
  WriteAll();
  MainWindow& f = Start();
  EXPECT_EQ(Machines(),
            (std::vector<QString>{"IBM/PC", "Nintendo N64", "Sega Dreamcast", "Sony Playstation"}));
  EXPECT_EQ(f.MachineBox()->currentText(), "IBM/PC");
  EXPECT_EQ(OpenFile(), "pc.dbf");
  EXPECT_TRUE(f.CheatTable()->Active());
  // The first cheat in name order, with its text; the search box is empty.
  EXPECT_EQ(Current(), "Empty PC");
  EXPECT_EQ(MemoText(), "");
  f.NameGrid()->setFocus();
  QTest::keyClick(f.NameGrid(), Qt::Key_Down);
  EXPECT_EQ(Current(), "Long PC");
  EXPECT_TRUE(MemoText().startsWith("Line 1 of the long cheat text\nLine 2"));
  EXPECT_EQ(f.SearchBox()->text(), "");
  // The caption carries the program's own version.
  EXPECT_EQ(f.windowTitle(), QString("Vorza for windows v") + VORZA_PROJECT_VERSION);
  // The index was built beside the tables.
  EXPECT_EQ(f.IndexPath(), programDir_ + "cheat.ndx");
  EXPECT_TRUE(Exists(programDir_ + "cheat.ndx"));
}

TEST_F(MainWindowTest, OnlyPsxPresent) {
  WriteMachine("psx", "PSX");
  Start();
  EXPECT_EQ(Machines(), std::vector<QString>{"Sony Playstation"});
  EXPECT_EQ(OpenFile(), "psx.dbf");
  EXPECT_EQ(Current(), "Empty PSX");
}

TEST_F(MainWindowTest, AMachineWithoutItsMemoFileIsNotOffered) {
  WriteMachine("n64", "N64", false);
  WriteMachine("psx", "PSX");
  Start();
  EXPECT_EQ(Machines(), std::vector<QString>{"Sony Playstation"});
  EXPECT_EQ(OpenFile(), "psx.dbf");
}

TEST_F(MainWindowTest, ComponentsWhereTheLayoutPutsThem) {
  WriteAll();
  MainWindow& f = Start();
  EXPECT_EQ(f.centralWidget()->size(), QSize(658, 363));
  EXPECT_EQ(f.TextMemo()->geometry(), QRect(229, 52, 372, 309));
  EXPECT_EQ(f.NameGrid()->geometry(), QRect(0, 53, 169, 277));
  EXPECT_EQ(f.SearchBox()->geometry(), QRect(0, 335, 170, 24));
  EXPECT_EQ(f.MachineBox()->geometry(), QRect(1, 29, 169, 20));
  EXPECT_EQ(f.PrintButton()->geometry(), QRect(616, 332, 29, 25));
  EXPECT_EQ(f.PrintButton()->toolTip(), "Print the cheat");
  EXPECT_EQ(f.MachineLabel()->text(), "&Machine :");  // shown as "Machine :", M underlined
  EXPECT_EQ(f.SearchLabel()->text(), "<-Search");
  EXPECT_EQ(f.MachineLabel()->pos(), QPoint(3, 15));
  EXPECT_EQ(f.Picture()->pixmap().size(), QSize(658, 363));
  // The menu.
  EXPECT_EQ(f.ExitAction()->text(), "Exit");
  EXPECT_EQ(f.ExitAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_X));
  EXPECT_EQ(f.ReleaseInfoAction()->text(), "&Information about this release");
  EXPECT_EQ(f.ReleaseInfoAction()->shortcut(), QKeySequence(Qt::Key_F1));
  EXPECT_EQ(f.WebLinksAction()->text(), "Web links");
  EXPECT_EQ(f.EmailCommentsAction()->text(), "E-mail your comments");
  // The form's size is the window's default and smallest one; the window
  // has the usual close, minimise and maximise buttons.
  EXPECT_EQ(f.minimumSize(), f.size());
  EXPECT_GT(f.maximumWidth(), f.width());
  EXPECT_GT(f.maximumHeight(), f.height());
  for (auto hint :
       {Qt::WindowCloseButtonHint, Qt::WindowMinimizeButtonHint, Qt::WindowMaximizeButtonHint})
    EXPECT_TRUE(f.windowFlags() & hint) << hint;
}

// Every control can be reached from the keyboard: Tab goes from the list to
// the text, the search box and the print button; Alt+M reaches the machine
// box and Alt+T the text, whose keys scroll a long cheat.
TEST_F(MainWindowTest, TheKeyboardReachesEveryControl) {
  WriteAll();
  MainWindow& f = Start();
  auto focused = [] { return QApplication::focusWidget(); };
  EXPECT_EQ(focused(), f.NameGrid());
  const std::vector<QWidget*> ring{f.TextMemo(), f.SearchBox(), f.PrintButton(), f.NameGrid()};
  for (QWidget* next : ring) {
    QTest::keyClick(focused(), Qt::Key_Tab);
    EXPECT_EQ(focused(), next) << next->objectName().toStdString();
  }
  for (auto it = ring.rbegin() + 1; it != ring.rend(); ++it) {
    QTest::keyClick(focused(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(focused(), *it) << (*it)->objectName().toStdString();
  }
  QTest::keyClick(focused(), Qt::Key_M, Qt::AltModifier);
  EXPECT_EQ(focused(), f.MachineBox());
  QTest::keyClick(focused(), Qt::Key_T, Qt::AltModifier);
  EXPECT_EQ(focused(), f.TextMemo());
  // A long cheat scrolls with the keys.
  f.NameGrid()->setFocus();
  QTest::keyClick(f.NameGrid(), Qt::Key_Down);
  ASSERT_EQ(Current(), "Long PC");
  QTest::keyClick(focused(), Qt::Key_T, Qt::AltModifier);
  ASSERT_EQ(focused(), f.TextMemo());
  QScrollBar* bar = f.TextMemo()->verticalScrollBar();
  ASSERT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), 0);
  QTest::keyClick(f.TextMemo(), Qt::Key_PageDown);
  const int page = bar->value();
  EXPECT_GT(page, 0);
  QTest::keyClick(f.TextMemo(), Qt::Key_Down);
  QTest::keyClick(f.TextMemo(), Qt::Key_PageDown);
  EXPECT_GT(bar->value(), page);
  QTest::keyClick(f.TextMemo(), Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_EQ(Current(), "Long PC");
}

// After a machine switch the focus is in the search box, so the letters
// typed next search the new machine instead of going into the machine box.
TEST_F(MainWindowTest, AfterAMachineSwitchTheLettersSearch) {
  WriteAll();
  MainWindow& f = Start();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_M, Qt::AltModifier);
  ASSERT_EQ(QApplication::focusWidget(), f.MachineBox());
  QTest::keyClick(f.MachineBox(), Qt::Key_Down);
  EXPECT_EQ(OpenFile(), "n64.dbf");
  EXPECT_EQ(QApplication::focusWidget(), f.SearchBox());
  QTest::keyClicks(QApplication::focusWidget(), "sn");
  EXPECT_EQ(f.MachineBox()->currentText(), "Nintendo N64");
  EXPECT_EQ(f.SearchBox()->text(), "sn");
  EXPECT_EQ(Current(), "Snake N64");
  // Picking from the box's list does the same.
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_M, Qt::AltModifier);
  f.MachineBox()->showPopup();
  QApplication::processEvents();
  QAbstractItemView* list = f.MachineBox()->view();
  list->setCurrentIndex(list->model()->index(f.MachineBox()->findText("Sony Playstation"), 0));
  QTest::keyClick(list, Qt::Key_Return);
  QApplication::processEvents();
  EXPECT_EQ(OpenFile(), "psx.dbf");
  EXPECT_EQ(QApplication::focusWidget(), f.SearchBox());
  QTest::keyClicks(QApplication::focusWidget(), "sni");
  EXPECT_EQ(f.MachineBox()->currentText(), "Sony Playstation");
  EXPECT_EQ(Current(), "sniper PSX");
}

// Ctrl+X is File/Exit from every control of the window, the machine box's
// text field and the read-only text included.
TEST_F(MainWindowTest, CtrlXIsExitFromEveryControl) {
  WriteAll();
  for (int control = 0; control < 5; ++control) {
    MainWindow& f = Start();
    QWidget* const controls[] = {f.MachineBox(), f.TextMemo(), f.NameGrid(), f.SearchBox(),
                                 f.PrintButton()};
    QWidget* target = controls[control];
    target->setFocus();
    ASSERT_TRUE(target->hasFocus()) << control;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_X, Qt::ControlModifier);
    EXPECT_FALSE(f.CheatTable()->Active()) << target->objectName().toStdString();
    EXPECT_FALSE(f.isVisible()) << target->objectName().toStdString();
    EXPECT_FALSE(Exists(programDir_ + "cheat.ndx")) << target->objectName().toStdString();
    EXPECT_EQ(f.MachineBox()->currentText(), "IBM/PC") << "the box's text was cut";
    form_.reset();
    test::ResetAll();
  }
}

// The window grows from the form's layout: the list (with the machine box
// and the search box) takes the extra width, the list and the text the
// extra height, and the strip right of the text follows the right edge;
// the background is drawn for the size. It never gets smaller than the
// form.
TEST_F(MainWindowTest, TheListAndTheTextGrowWithTheWindow) {
  WriteAll();
  MainWindow& f = Start();
  const QSize outside = f.size() - f.centralWidget()->size();
  const int shownBefore = f.NameGrid()->VisibleRowCount();
  for (const QSize client : {QSize(900, 500), QSize(1200, 800), QSize(700, 400), QSize(658, 363)}) {
    f.resize(client + outside);
    QApplication::processEvents();
    ASSERT_EQ(f.centralWidget()->size(), client);
    const int wider = client.width() - 658, taller = client.height() - 363;
    EXPECT_EQ(f.MachineBox()->geometry(), QRect(1, 29, 169 + wider, 20));
    EXPECT_EQ(f.NameGrid()->geometry(), QRect(0, 53, 169 + wider, 277 + taller));
    EXPECT_EQ(f.SearchBox()->geometry(), QRect(0, 335 + taller, 170 + wider, 24));
    EXPECT_EQ(f.SearchLabel()->pos(), QPoint(173 + wider, 341 + taller));
    EXPECT_EQ(f.TextMemo()->geometry(), QRect(229 + wider, 52, 372, 309 + taller));
    EXPECT_EQ(f.PrintButton()->geometry(), QRect(616 + wider, 332 + taller, 29, 25));
    EXPECT_EQ(f.MachineLabel()->pos(), QPoint(3, 15));
    EXPECT_EQ(f.Picture()->geometry(), QRect(QPoint(0, 0), client));
    EXPECT_EQ(f.Picture()->pixmap().size(), client);
    // The list's one column takes its width; more rows are shown.
    EXPECT_EQ(f.NameGrid()->ColWidth(0), f.NameGrid()->viewport()->width());
    EXPECT_EQ(f.NameGrid()->DataLink().BufferCount(), f.NameGrid()->VisibleRowCount());
    if (taller > 0) {
      EXPECT_GT(f.NameGrid()->VisibleRowCount(), shownBefore);
    }
  }
  EXPECT_EQ(f.NameGrid()->VisibleRowCount(), shownBefore);
  // Smaller than the form: the form's size.
  f.resize(300, 200);
  QApplication::processEvents();
  EXPECT_EQ(f.centralWidget()->size(), QSize(658, 363));
  EXPECT_EQ(f.NameGrid()->geometry(), QRect(0, 53, 169, 277));
}

// Closing the window by its close box ends the program as any path but
// File/Exit: the index stays for the next start. Its size and place are
// kept for the next start; the first start centres the form's size.
TEST_F(MainWindowTest, TheWindowsPlaceIsKeptAndTheCloseBoxLeavesTheIndex) {
  WriteAll();
  MainWindow& f = Start();
  f.hide();
  f.PlaceOnScreen();
  const QRect screen = f.screen()->geometry();
  EXPECT_EQ(f.centralWidget()->size(), QSize(658, 363));
  EXPECT_NEAR(f.frameGeometry().center().x(), screen.center().x(), 2);
  EXPECT_NEAR(f.frameGeometry().center().y(), screen.center().y(), 2);
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  f.setGeometry(QRect(40, 60, 900, 600));
  QApplication::processEvents();
  const QRect placed = f.geometry();
  EXPECT_TRUE(f.close());
  EXPECT_FALSE(f.isVisible());
  EXPECT_TRUE(Exists(programDir_ + "cheat.ndx"));
  EXPECT_FALSE(UserSettings()->value(MainWindow::kPlacementKey).toByteArray().isEmpty());
  EXPECT_TRUE(Exists(config_.path() + "/vorza/vorza.conf"));
  form_.reset();
  test::ResetAll();
  MainWindow& again = Start();
  again.hide();
  again.PlaceOnScreen();
  again.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&again));
  EXPECT_EQ(again.geometry(), placed);
  EXPECT_EQ(again.NameGrid()->width(), 169 + 900 - 658);
}

// No machine: the engine's file error halts the program with code 2
// before the main window is shown. The file it names is the first
// catalogue entry's data file in the folder, one the user can look for
// (the engine's message writes the path in capitals).
TEST(MainWindowDeathTest, NoMachineHaltsWithCode2) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  test::TempDir dir;
  EXPECT_EXIT(
      {
        test::ResetAll();
        SetRaiseErrors(false);
        InstallHaltingPresentation();
        platform::SetHaltPresenter([](const std::string& caption, const std::string& message) {
          std::fprintf(stderr, "[%s] %s\n", caption.c_str(), message.c_str());
        });
        MainWindow form(dir.path() + "/");
        std::fprintf(stderr, "the window was made\n");
        std::exit(0);
      },
      ::testing::ExitedWithCode(2),
      "\\[Program halted.\\] Error # 2 \\(File not found\\)\r\nFailure to open /.*/PC\\.DBF ");
}

// The reader's message boxes show every byte of an engine message, as the
// terminal does: a NUL from a damaged header does not cut it short.
TEST_F(MainWindowTest, MessageBoxesShowEveryByteOfAMessage) {
  InitReader();
  ModalWatcher watcher;
  const std::string detail =
      std::string("Field:  [") + '\0' + "] in T.DBF \x01is\tnot a valid field type";
  const QString shown = QStringLiteral("Field:  [\\x00] in T.DBF \\x01is\tnot a valid field type");
  platform::ShowMessage(detail);
  platform::PresentHalt(kHaltCaption, ErrorText(211) + "\r\n" + detail);
  // An engine error escaping a handler.
  EXPECT_FALSE(
      DeliverShowingErrors([&]() -> bool { throw EngineError(ErrorText(211) + "\r\n" + detail); }));
  platform::SetHaltPresenter(nullptr);
  platform::SetMessagePresenter(nullptr);
  platform::SetStatusWindowFactory(nullptr);
  ASSERT_EQ(watcher.seen.size(), 3u);
  EXPECT_EQ(watcher.seen[0].text, shown);
  EXPECT_EQ(watcher.seen[1].text,
            "Error # 211 (Invalid database field type encountered)\n" + shown);
  EXPECT_EQ(watcher.seen[1].title, "Program halted.");
  EXPECT_EQ(watcher.seen[1].icon, QMessageBox::Critical);
  EXPECT_EQ(watcher.seen[2].text,
            "Error # 211 (Invalid database field type encountered)\n" + shown + ".");
}

// An exception escaping an event handler is shown and the program goes on.
TEST_F(MainWindowTest, AnExceptionInAHandlerIsShownAndTheProgramGoesOn) {
  ModalWatcher watcher;
  bool after = false;
  const bool delivered = DeliverShowingErrors([&]() -> bool {
    throw std::runtime_error("The cheat could not be read");
    after = true;
    return true;
  });
  EXPECT_FALSE(delivered);
  EXPECT_FALSE(after);
  ASSERT_EQ(watcher.seen.size(), 1u);
  EXPECT_EQ(watcher.seen[0].text, "The cheat could not be read.");
  EXPECT_EQ(watcher.seen[0].icon, QMessageBox::Critical);
  // A delivery that does not throw passes its result on, with no box.
  EXPECT_TRUE(DeliverShowingErrors([] { return true; }));
  EXPECT_EQ(watcher.seen.size(), 1u);
}

// ---------------------------------------------------------------------------
// The search box

TEST_F(MainWindowTest, IncrementalSearchByRecordNumberOrder) {
  WriteAll();
  MainWindow& f = Start();
  f.SearchBox()->setFocus();
  Type("s");
  // Record 5 is the first whose name starts with s or S.
  EXPECT_EQ(RecNo(), 5);
  EXPECT_EQ(Current(), "Snake PC");
  EXPECT_EQ(MemoText(), "Snake text");
  Type("n");
  EXPECT_EQ(Current(), "Snake PC");
  Type("i");
  EXPECT_EQ(Current(), "sniper PC");
  EXPECT_EQ(MemoText(), "Sniper text");
  // The grid shows the found name in name order, as its current row.
  data::Field* name = f.NameGrid()->ColumnField(0);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->AsString(), "sniper PC");
  // Deleting all the text: record number 1.
  ClearSearch();
  EXPECT_EQ(f.SearchBox()->text(), "");
  EXPECT_EQ(RecNo(), 1);
  EXPECT_EQ(Current(), "PC game 020");
}

TEST_F(MainWindowTest, TrailingBlanksAndLetterCaseDoNotCount) {
  WriteAll();
  MainWindow& f = Start();
  f.SearchBox()->setFocus();
  Type("SNIP  ");
  EXPECT_EQ(Current(), "sniper PC");
  ClearSearch();
  Type("pc game 00");
  EXPECT_EQ(Current(), "PC game 009");  // record 12, the first by record number
}

TEST_F(MainWindowTest, AMissLeavesGridAndMemoAsTheyWere) {
  WriteAll();
  MainWindow& f = Start();
  f.SearchBox()->setFocus();
  Type("sn");
  const int row = f.NameGrid()->Row();
  const QString memo = MemoText();
  Type("x");  // "snx": no such name
  EXPECT_EQ(Current(), "Snake PC");
  EXPECT_EQ(f.NameGrid()->Row(), row);
  EXPECT_EQ(MemoText(), memo);
}

// ---------------------------------------------------------------------------
// Switching machines

TEST_F(MainWindowTest, SwitchingWithAnEmptySearchBoxShowsTheFirstName) {
  WriteAll();
  Start();
  Pick("Sega Dreamcast");
  EXPECT_EQ(OpenFile(), "dream.dbf");
  EXPECT_EQ(Current(), "DC game 001");  // "Empty DC" sorts after "DC game"
  EXPECT_EQ(form_->SearchBox()->text(), "");
  Pick("Sony Playstation");
  EXPECT_EQ(OpenFile(), "psx.dbf");
  EXPECT_EQ(Current(), "Empty PSX");
  EXPECT_EQ(MemoText(), "");
}

TEST_F(MainWindowTest, SwitchingWithTextInTheSearchBoxClearsItAndShowsRecordOne) {
  WriteAll();
  MainWindow& f = Start();
  f.SearchBox()->setFocus();
  Type("sni");
  Pick("Nintendo N64");
  EXPECT_EQ(OpenFile(), "n64.dbf");
  EXPECT_EQ(f.SearchBox()->text(), "");
  EXPECT_EQ(RecNo(), 1);
  EXPECT_EQ(Current(), "N64 game 020");
  EXPECT_EQ(MemoText(), "Text of N64 game 020");
}

TEST_F(MainWindowTest, ChoosingTheOpenMachineAgainReopensIt) {
  WriteAll();
  MainWindow& f = Start();
  test::RecordingLink link;
  link.SetDataSource(&f.CheatSource());
  link.Log.clear();
  QComboBox* box = f.MachineBox();
  emit box->activated(box->currentIndex());  // the same entry picked from the list
  EXPECT_EQ(OpenFile(), "pc.dbf");
  EXPECT_EQ(std::count(link.Log.begin(), link.Log.end(), "active"), 2) << "closed and opened again";
  EXPECT_EQ(Current(), "Empty PC");
}

TEST_F(MainWindowTest, TypingIntoTheMachineBoxLeavesTheOpenTable) {
  WriteAll();
  MainWindow& f = Start();
  Pick("Nintendo N64");
  QLineEdit* text = f.MachineBox()->lineEdit();
  text->setFocus();
  text->selectAll();
  QTest::keyClicks(text, "S");
  QTest::keyClicks(text, "ega");
  EXPECT_TRUE(f.CheatTable()->Active());
  EXPECT_EQ(OpenFile(), "n64.dbf");
  QTest::keyClick(text, Qt::Key_Backspace);
  QTest::keyClick(text, Qt::Key_Backspace);
  EXPECT_EQ(OpenFile(), "n64.dbf");
  // A text that names a listed machine switches to it.
  text->selectAll();
  QTest::keyClicks(text, "Sega Dreamcast");
  EXPECT_EQ(OpenFile(), "dream.dbf");
}

// ---------------------------------------------------------------------------
// The index's place and life cycle

TEST_F(MainWindowTest, FileExitClosesTheTableAndRemovesTheIndex) {
  WriteAll();
  MainWindow& f = Start();
  ASSERT_TRUE(Exists(programDir_ + "cheat.ndx"));
  // Ctrl+X from the search box: the menu's File/Exit comes first.
  f.SearchBox()->setFocus();
  Type("sn");
  QTest::keyClick(f.SearchBox(), Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(f.SearchBox()->text(), "sn") << "Ctrl+X cut the text instead of exiting";
  EXPECT_FALSE(f.CheatTable()->Active());
  EXPECT_FALSE(f.isVisible());
  EXPECT_FALSE(Exists(programDir_ + "cheat.ndx"));
  // The tables themselves stay.
  EXPECT_TRUE(Exists(programDir_ + "pc.dbf"));
  EXPECT_TRUE(Exists(programDir_ + "pc.dbt"));
}

TEST_F(MainWindowTest, AnExistingIndexIsReusedAndTheMachinesShareIt) {
  WriteAll();
  Start();
  form_.reset();  // ends without File/Exit: the index stays
  ASSERT_TRUE(Exists(programDir_ + "cheat.ndx"));
  struct stat before {};
  ::stat((programDir_ + "cheat.ndx").c_str(), &before);
  test::ResetAll();
  Start();
  struct stat after {};
  ::stat((programDir_ + "cheat.ndx").c_str(), &after);
  EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
  Pick("Sony Playstation");
  EXPECT_EQ(Current(), "Empty PSX");
  EXPECT_TRUE(Exists(programDir_ + "cheat.ndx"));
}

TEST_F(MainWindowTest, AnUnwritableProgramDirectoryKeepsTheIndexInTheCache) {
  WriteAll();
  test::TempDir cache;
  ::chmod(cache.path().c_str(), 0777);
  const char* oldCache = std::getenv("XDG_CACHE_HOME");
  const std::string savedCache = oldCache ? oldCache : "";
  setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
  // Root may write anywhere: take another user's rights for the start.
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::seteuid(65534), 0);
  } else {
    ::chmod(dir_.path().c_str(), 0555);
  }
  Start();
  if (root) {
    ASSERT_EQ(::seteuid(0), 0);
  } else {
    ::chmod(dir_.path().c_str(), 0755);
  }
  const std::string cached = cache.path() + "/vorza/cheat.ndx";
  EXPECT_EQ(form_->IndexPath(), cached);
  EXPECT_TRUE(Exists(cached));
  EXPECT_FALSE(Exists(programDir_ + "cheat.ndx"));
  EXPECT_EQ(Current(), "Empty PC");
  // Nothing at all was written beside the tables.
  for (const char* leftover : {"pc.@S@", "PC.@S@"})
    EXPECT_FALSE(Exists(programDir_ + leftover)) << leftover;
  form_->ExitAction()->trigger();
  EXPECT_FALSE(Exists(cached));
  if (oldCache)
    setenv("XDG_CACHE_HOME", savedCache.c_str(), 1);
  else
    unsetenv("XDG_CACHE_HOME");
}

// ---------------------------------------------------------------------------
// The Help menu

TEST_F(MainWindowTest, F1WithoutReleaseInformationSaysSo) {
  WriteAll();
  test::TempDir elsewhere(true);  // the current directory has no vorzaw95.doc
  MainWindow& f = Start();
  ModalWatcher watcher;
  QTest::keyClick(&f, Qt::Key_F1);
  ASSERT_EQ(watcher.seen.size(), 1u);
  EXPECT_EQ(watcher.seen[0].kind, "QMessageBox");
  EXPECT_EQ(watcher.seen[0].text, "'Vorzaw95.doc' not found\nInformation not available");
}

TEST_F(MainWindowTest, F1WithReleaseInformationShowsTheHelpWindow) {
  WriteAll();
  test::TempDir elsewhere(true);
  {
    std::ofstream doc(elsewhere.File("vorzaw95.doc"), std::ios::binary);
    doc << "Release 1.3\r\nCaf\x82\r\n";
    for (int i = 0; i < 100; ++i) doc << "line " << i << "\r\n";
  }
  MainWindow& f = Start();  // the Help window reads it when it is made
  ModalWatcher watcher;
  QTest::keyClick(&f, Qt::Key_F1);
  ASSERT_EQ(watcher.seen.size(), 1u);
  EXPECT_EQ(watcher.seen[0].title, "Vorza for Windows Help");
  EXPECT_TRUE(form3_->InfoText()->toPlainText().startsWith(
      QString::fromUtf8("Release 1.3\nCafé\nline 0\n")));
  // It opens on its first line.
  EXPECT_EQ(form3_->InfoText()->textCursor().position(), 0);
  EXPECT_EQ(form3_->InfoText()->verticalScrollBar()->value(), 0);
}

// Started from a terminal in another folder: F1 reads the release
// information of the catalogue's folder; a copy in the current folder comes
// first.
TEST_F(MainWindowTest, F1ReadsTheCataloguesReleaseInformationWhenTheCurrentFolderHasNone) {
  WriteAll();
  test::TempDir elsewhere(true);
  auto write = [](const std::string& path, const char* first) {
    std::ofstream doc(path, std::ios::binary);
    doc << first << "\r\nmore\r\n";
  };
  write(programDir_ + "vorzaw95.doc", "Catalogue copy");
  {
    MainWindow& f = Start();
    ModalWatcher watcher;
    QTest::keyClick(&f, Qt::Key_F1);
    ASSERT_EQ(watcher.seen.size(), 1u);
    EXPECT_EQ(watcher.seen[0].title, "Vorza for Windows Help");
    EXPECT_EQ(form3_->InfoText()->toPlainText(), "Catalogue copy\nmore");
  }
  form_.reset();
  test::ResetAll();
  write(elsewhere.File("vorzaw95.doc"), "Current folder");
  MainWindow& f = Start();
  ModalWatcher watcher;
  QTest::keyClick(&f, Qt::Key_F1);
  ASSERT_EQ(watcher.seen.size(), 1u);
  EXPECT_EQ(form3_->InfoText()->toPlainText(), "Current folder\nmore");
}

TEST_F(MainWindowTest, WebLinksShowTheVersion) {
  WriteAll();
  MainWindow& f = Start();
  ModalWatcher watcher;
  f.WebLinksAction()->trigger();
  ASSERT_EQ(watcher.seen.size(), 1u);
  EXPECT_EQ(watcher.seen[0].title, "About");
  EXPECT_EQ(form2_->VersionLabel()->text(), QString("v") + VORZA_PROJECT_VERSION);
}

TEST_F(MainWindowTest, MailWarningWhenNoMailProgramAnswers) {
  WriteAll();
  MainWindow& f = Start();
  ModalWatcher watcher;
  f.EmailCommentsAction()->trigger();  // the offscreen desktop has no mail program
  ASSERT_EQ(watcher.seen.size(), 1u);
  EXPECT_EQ(watcher.seen[0].title, "Vorza reader for Windows 95 v1.3");
  EXPECT_EQ(watcher.seen[0].icon, QMessageBox::Warning);
  EXPECT_TRUE(watcher.seen[0].text.startsWith("There is no E-mail program"));
}

// ---------------------------------------------------------------------------
// Printing

class PrintFromWindowTest : public MainWindowTest {
 protected:
  void UsePdf() {
    form_->SetPrinterSource([this] {
      auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
      printer->setOutputFormat(QPrinter::PdfFormat);
      printer->setOutputFileName(QString::fromStdString(pdf_));
      ++jobs_;
      return printer;
    });
  }
  std::vector<std::string> PrintedLines() {
    std::string out;
    EXPECT_EQ(test::RunCommand("pdftotext -layout '" + pdf_ + "' -", &out), 0);
    std::vector<std::string> lines;
    std::string line;
    for (char c : out) {
      if (c == '\n' || c == '\f') {
        const auto first = line.find_first_not_of(' ');
        if (first != std::string::npos)
          lines.push_back(line.substr(first, line.find_last_not_of(' ') - first + 1));
        line.clear();
      } else {
        line += c;
      }
    }
    return lines;
  }
  // The words of the printout with their boxes in points (pdftotext -bbox),
  // and the page's size.
  struct Word {
    double xMin, yMin, xMax, yMax;
    std::string text;
  };
  std::vector<Word> PrintedWords(double& pageWidth, double& pageHeight) {
    std::string html;
    EXPECT_EQ(test::RunCommand("pdftotext -bbox '" + pdf_ + "' -", &html), 0);
    std::vector<Word> words;
    pageWidth = pageHeight = 0;
    const std::regex page(R"re(<page width="([0-9.]+)" height="([0-9.]+)")re");
    const std::regex word(
        R"re(<word xMin="([0-9.]+)" yMin="([0-9.]+)" xMax="([0-9.]+)" yMax="([0-9.]+)">([^<]*)</word>)re");
    std::smatch m;
    if (std::regex_search(html, m, page)) {
      pageWidth = std::stod(m[1]);
      pageHeight = std::stod(m[2]);
    }
    for (auto it = std::sregex_iterator(html.begin(), html.end(), word);
         it != std::sregex_iterator(); ++it)
      words.push_back({std::stod((*it)[1]), std::stod((*it)[2]), std::stod((*it)[3]),
                       std::stod((*it)[4]), (*it)[5].str()});
    return words;
  }
  std::string PdfTitle() {
    std::string info;
    test::RunCommand("pdfinfo '" + pdf_ + "'", &info);
    const auto at = info.find("Title:");
    if (at == std::string::npos) return std::string();
    const auto end = info.find('\n', at);
    const auto first = info.find_first_not_of(' ', at + 6);
    return info.substr(first, end - first);
  }
  std::string pdf_ = dir_.File("printed.pdf");
  int jobs_ = 0;
};

TEST_F(PrintFromWindowTest, PrintsTheMemosDisplayedLinesInOrder) {
  WriteAll();
  MainWindow& f = Start();
  UsePdf();
  f.SearchBox()->setFocus();
  Type("Long");
  ASSERT_EQ(Current(), "Long PC");
  const QStringList shown = DisplayedLines(*f.TextMemo());
  ASSERT_GT(shown.size(), 151);  // the wide last paragraph wraps
  QTest::mouseClick(f.PrintButton(), Qt::LeftButton);
  EXPECT_EQ(jobs_, 1);
  const auto printed = PrintedLines();
  ASSERT_EQ(printed.size(), static_cast<std::size_t>(shown.size()));
  for (int i = 0; i < shown.size(); ++i)
    EXPECT_EQ(printed[static_cast<std::size_t>(i)], shown.at(i).trimmed().toStdString())
        << "line " << i;
  // The job is named after the program and the cheat.
  EXPECT_EQ(PdfTitle(), "Vorza Cheat Reader - Long PC");
  // Every word keeps 15 mm from the page's edges; the lines start at the
  // left margin, in a readable size, and the widest shown line takes at
  // most the width between the margins.
  double width = 0, height = 0;
  const std::vector<Word> words = PrintedWords(width, height);
  ASSERT_FALSE(words.empty());
  ASSERT_GT(width, 500);
  const double margin = 15 / 25.4 * 72;
  double left = width, right = 0;
  for (const Word& w : words) {
    EXPECT_GE(w.xMin, margin - 0.5) << w.text;
    EXPECT_LE(w.xMax, width - margin + 0.5) << w.text;
    EXPECT_GE(w.yMin, margin - 0.5) << w.text;
    EXPECT_LE(w.yMax, height - margin + 0.5) << w.text;
    EXPECT_GT(w.yMax - w.yMin, 9.0) << w.text;
    EXPECT_LT(w.yMax - w.yMin, 16.0) << w.text;
    left = std::min(left, w.xMin);
    right = std::max(right, w.xMax);
  }
  EXPECT_NEAR(left, margin, 1.5);
  // The text is no longer a narrow column at the left: it reaches past the
  // middle of the page.
  EXPECT_GT(right, width / 2);
}

TEST_F(PrintFromWindowTest, AnEmptyTextPrintsNothingAndSaysSo) {
  WriteAll();
  MainWindow& f = Start();
  UsePdf();
  ASSERT_EQ(Current(), "Empty PC");
  ModalWatcher watcher;
  QTest::mouseClick(f.PrintButton(), Qt::LeftButton);
  EXPECT_EQ(jobs_, 0);
  EXPECT_FALSE(Exists(pdf_));
  ASSERT_EQ(watcher.seen.size(), 1u);
  EXPECT_EQ(watcher.seen[0].text, "This cheat has no text to print.");
  // The next cheat prints.
  f.NameGrid()->setFocus();
  QTest::keyClick(f.NameGrid(), Qt::Key_Down);
  QTest::mouseClick(f.PrintButton(), Qt::LeftButton);
  EXPECT_EQ(jobs_, 1);
  EXPECT_FALSE(PrintedLines().empty());
}

TEST_F(PrintFromWindowTest, NoDefaultPrinterIsAClearError) {
  WriteAll();
  MainWindow& f = Start();
  f.SetPrinterSource([] { return std::unique_ptr<QPrinter>(); });
  f.NameGrid()->setFocus();
  QTest::keyClick(f.NameGrid(), Qt::Key_Down);  // a cheat with text
  ModalWatcher watcher;
  QTest::mouseClick(f.PrintButton(), Qt::LeftButton);
  ASSERT_EQ(watcher.seen.size(), 1u);
  EXPECT_TRUE(watcher.seen[0].text.startsWith("There is no default printer."))
      << watcher.seen[0].text.toStdString();
}

}  // namespace
}  // namespace vz::app
