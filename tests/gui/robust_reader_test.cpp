// The reader's window on damaged and busy files: an index that was cut,
// emptied or left by a killed build is rebuilt at the start; tables and memo
// files that were cut show what can be read, or end the program with the
// engine's code; a folder where no index can be made anywhere ends it with
// the engine's message; another program appending to the open table, and a
// second reader of the same catalogue, disturb nothing; and a whole session
// leaves every table and memo file exactly as it was.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <linux/securebits.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrinter>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "app/MainWindow.h"
#include "app/ReleaseInfoDialog.h"
#include "app/WebLinksDialog.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "index/indexes.h"
#include "platform/files.h"
#include "platform/hooks.h"
#include "tests/gui/ReaderTestBase.h"
#include "tests/support/DbtBuilder.h"
#include "tests/support/NdxChecker.h"
#include "tests/support/Processes.h"
#include "tests/support/TableFixture.h"
#include "views/DataGrid.h"
#include "views/DataMemo.h"

namespace vz::app {
namespace {

using test::Cheat;
using Strings = std::vector<std::string>;

// The cheat tables' layout as WriteCheatTable writes it.
constexpr long kHeaderLength = 32 + 2 * 32 + 1;
constexpr long kRecordLength = 1 + 35 + 10;

bool Exists(const std::string& path) {
  return ::access(path.c_str(), F_OK) == 0;
}

// Counts the modal boxes that open and closes each.
class ModalCounter {
 public:
  ModalCounter() {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (QWidget* w = QApplication::activeModalWidget()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        seen.push_back((box ? box->text() : w->windowTitle()).toStdString());
        w->close();
      }
    });
    timer_.start();
  }
  Strings seen;

 private:
  QTimer timer_;
};

// Takes another user's rights for writing while it lives, when the tests
// run as root (root may write anywhere, so only another user shows what is
// refused). Reading and searching folders stays open: the reader reads its
// version record from its own program file, which must not depend on
// whether that user may read the folder the build tree lives in (a
// developer's home directory). The capabilities are kept across the change
// of user, and all but the one that reads everything are set aside.
class Unprivileged {
 public:
  Unprivileged() : root_(::geteuid() == 0) {
    if (!root_) return;
    EXPECT_EQ(::prctl(PR_SET_SECUREBITS, SECBIT_NO_SETUID_FIXUP), 0) << std::strerror(errno);
    EXPECT_EQ(::seteuid(65534), 0);
    EXPECT_TRUE(SetEffective(CAP_TO_MASK(CAP_DAC_READ_SEARCH)));
  }
  ~Unprivileged() {
    if (!root_) return;
    EXPECT_EQ(::seteuid(0), 0);
    EXPECT_TRUE(SetEffective(~0U));
    EXPECT_EQ(::prctl(PR_SET_SECUREBITS, 0), 0);
  }
  bool root() const { return root_; }

 private:
  // The effective capabilities: those of `low` (capabilities 0 to 31) that
  // are permitted; every one permitted above 31 with ~0U, none otherwise.
  static bool SetEffective(std::uint32_t low) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    data[0].effective = data[0].permitted & low;
    data[1].effective = low == ~0U ? data[1].permitted : 0;
    return ::syscall(SYS_capset, &header, data) == 0;
  }

  bool root_;
};

// Sets an environment variable while it lives.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      had_ = true;
      old_ = old;
    }
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_)
      ::setenv(name_, old_.c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

std::string GameName(const std::string& machine, int i) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%s game %03d", machine.c_str(), i);
  return buffer;
}

// `count` cheats of a machine in reverse name order: "<machine> game 0NN"
// with the text "Text of <name>".
std::vector<Cheat> Games(const std::string& machine, int count) {
  std::vector<Cheat> cheats;
  for (int i = count; i >= 1; --i)
    cheats.push_back({GameName(machine, i), "Text of " + GameName(machine, i)});
  return cheats;
}

Strings SortedNames(const std::vector<Cheat>& cheats) {
  Strings names;
  for (const Cheat& c : cheats)
    if (!c.deleted) names.push_back(c.name);
  std::sort(names.begin(), names.end());
  return names;
}

class RobustReaderTest : public ReaderTestBase {
 protected:
  void CloseForms() override { forms_.clear(); }
  void TearDown() override {
    ReaderTestBase::TearDown();
    EXPECT_TRUE(messages_.empty()) << messages_.front();
    EXPECT_TRUE(modals_.seen.empty()) << modals_.seen.front();
  }

  void Write(const std::string& base, const std::vector<Cheat>& cheats) {
    test::WriteCheatTable(programDir_ + base, cheats);
    tables_[base] = cheats;
  }

  // A reader's window on the program directory, shown (its Help windows
  // made too, as the program makes them).
  MainWindow& Start() {
    auto set = std::make_unique<Forms>();
    set->main = std::make_unique<MainWindow>(programDir_);
    set->about = std::make_unique<WebLinksDialog>();
    set->info = std::make_unique<ReleaseInfoDialog>();
    set->main->SetHelpWindows(set->about.get(), set->info.get());
    set->main->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(set->main.get()));
    forms_.push_back(std::move(set));
    return *forms_.back()->main;
  }
  // Ends a reader without File/Exit (its index stays).
  void Drop(MainWindow& f) {
    for (auto i = forms_.begin(); i != forms_.end(); ++i)
      if ((*i)->main.get() == &f) {
        forms_.erase(i);
        return;
      }
  }

  static std::string Current(MainWindow& f) {
    return f.CheatTable()->FieldByName("CHEATNAME")->AsString();
  }
  static std::string Memo(MainWindow& f) { return f.TextMemo()->toPlainText().toStdString(); }
  static void Search(MainWindow& f, const QString& text) {
    f.SearchBox()->setFocus();
    f.SearchBox()->selectAll();
    if (text.isEmpty())
      QTest::keyClick(f.SearchBox(), Qt::Key_Backspace);
    else
      QTest::keyClicks(f.SearchBox(), text);
  }
  static void Pick(MainWindow& f, const QString& machine) { PickMachine(f, machine); }
  // The names the grid shows, from its first row down, the current one
  // marked with ">".
  static Strings GridRows(MainWindow& f) {
    Strings rows;
    data::DataLink& link = f.NameGrid()->DataLink();
    data::DataSet* d = link.DataSet();
    if (!d || !d->Active()) return rows;
    data::Field* name = d->FieldByName("CHEATNAME");
    const int active = link.ActiveRecord();
    for (int r = 0; r < link.RecordCount(); ++r) {
      const int old = d->SetActiveRecordFor(link.FirstRecord() + r);
      rows.push_back((r == active ? ">" : "") + name->AsString());
      d->SetActiveRecordFor(old);
    }
    return rows;
  }
  // Every name from the top of the list to its end, walked with the grid's
  // keys; the grid is left on its last row.
  static Strings WalkWithTheKeys(MainWindow& f) {
    f.NameGrid()->setFocus();
    QTest::keyClick(f.NameGrid(), Qt::Key_Home, Qt::ControlModifier);
    Strings names{Current(f)};
    for (int guard = 0; guard < 100000; ++guard) {
      QTest::keyClick(f.NameGrid(), Qt::Key_Down);
      if (f.CheatTable()->Eof() || Current(f) == names.back()) break;
      names.push_back(Current(f));
    }
    return names;
  }
  test::NdxReport CheckIndex(const std::string& machine) {
    test::NdxCheckOptions o;
    o.Records = static_cast<std::int64_t>(tables_[machine].size());
    o.AnchorCount = o.Records;
    o.Table = QString::fromStdString(machine).toUpper().toStdString() + ".DBF";
    o.Expression = "CHEATNAME";
    return test::CheckNdxFile(programDir_ + "cheat.ndx", o);
  }

  struct Forms {
    std::unique_ptr<MainWindow> main;
    std::unique_ptr<WebLinksDialog> about;
    std::unique_ptr<ReleaseInfoDialog> info;
    ~Forms() {
      // The main window first: it closes the table.
      main.reset();
    }
  };

  std::map<std::string, std::vector<Cheat>> tables_;
  std::vector<std::unique_ptr<Forms>> forms_;
  ModalCounter modals_;
};

// ---------------------------------------------------------------------------
// The name index

// cheat.ndx cut or emptied while no reader ran: the next start builds it
// again and shows the first names; the file is a sound index afterwards.
TEST_F(RobustReaderTest, ACutOrEmptiedIndexIsRebuiltAtTheStart) {
  Write("pc", Games("PC", 40));
  Drop(Start());
  const std::string ndx = programDir_ + "cheat.ndx";
  const test::Bytes good = test::ReadFile(ndx);
  ASSERT_GT(good.size(), 1536u);
  std::vector<std::pair<std::string, test::Bytes>> damage;
  damage.push_back({"zero-filled", test::Bytes(good.size(), 0)});
  damage.push_back({"empty", test::Bytes()});
  damage.push_back({"cut inside its anchor", test::Bytes(good.begin(), good.begin() + 300)});
  damage.push_back({"cut after its anchor", test::Bytes(good.begin(), good.begin() + 700)});
  damage.push_back({"cut inside its last node", test::Bytes(good.begin(), good.end() - 100)});
  damage.push_back({"one node short", test::Bytes(good.begin(), good.end() - 512)});
  for (const auto& [what, bytes] : damage) {
    SCOPED_TRACE(what);
    test::WriteFile(ndx, bytes);
    test::ResetAll();
    MainWindow& f = Start();
    EXPECT_EQ(Current(f), "PC game 001");
    EXPECT_EQ(Memo(f), "Text of PC game 001");
    const Strings rows = GridRows(f);
    ASSERT_GE(rows.size(), 3u);
    EXPECT_EQ(rows[0], ">PC game 001");
    EXPECT_EQ(rows[1], "PC game 002");
    EXPECT_EQ(rows[2], "PC game 003");
    const test::NdxReport r = CheckIndex("pc");
    EXPECT_TRUE(r.Ok()) << r.Text();
    Drop(f);
  }
}

// A build killed while writing cheat.ndx leaves nodes without an anchor;
// the next start does not trust it and builds it again.
TEST_F(RobustReaderTest, AnIndexLeftByAKilledBuildIsRebuiltAtTheNextStart) {
  constexpr int kRecords = 20000;
  std::vector<Cheat> cheats;
  for (int i = 0; i < kRecords; ++i) {
    char name[24];
    std::snprintf(name, sizeof name, "Cheat %05d", static_cast<int>((i * 7919L) % kRecords));
    cheats.push_back({name, i % 2000 == 0 ? std::string("Text of ") + name : std::string()});
  }
  Write("pc", cheats);
  test::TempDir sortFiles;
  const test::KilledBuild k = test::KillIndexBuild(programDir_ + "pc.dbf", "cheatname",
                                                   programDir_ + "cheat.ndx", 70, sortFiles.path());
  ASSERT_TRUE(k.killed) << k.problem;
  ASSERT_GT(k.sizeAtKill, 512);
  ASSERT_GE(CheckIndex("pc").Problems.size(), 1u);

  MainWindow& f = Start();
  EXPECT_EQ(GridRows(f).at(0), ">Cheat 00000");
  EXPECT_EQ(GridRows(f).at(1), "Cheat 00001");
  Search(f, "cheat 19999");
  EXPECT_EQ(Current(f), "Cheat 19999");
  const test::NdxReport r = CheckIndex("pc");
  EXPECT_TRUE(r.Ok()) << r.Text();
}

// ---------------------------------------------------------------------------
// Damaged tables and memo files

// A table cut inside a record, and one whose header promises more records
// than it holds: the window shows the whole records that are there.
TEST_F(RobustReaderTest, ATableCutInsideARecordShowsItsWholeRecords) {
  Write("pc", Games("PC", 10));
  Write("n64", Games("N64", 6));
  // pc.dbf holds records 1 to 7 ("PC game 010" down to "PC game 004") and
  // 20 bytes of record 8.
  std::filesystem::resize_file(programDir_ + "pc.dbf", kHeaderLength + 7 * kRecordLength + 20);
  tables_["pc"].resize(7);
  // n64.dbf says it holds 1000.
  {
    test::Bytes b = test::ReadFile(programDir_ + "n64.dbf");
    b[4] = 0xE8, b[5] = 0x03, b[6] = 0, b[7] = 0;
    test::WriteFile(programDir_ + "n64.dbf", b);
  }
  MainWindow& f = Start();
  EXPECT_EQ(WalkWithTheKeys(f), SortedNames(tables_["pc"]));
  EXPECT_EQ(f.CheatTable()->RecordCount(), 7);
  // Typed letter by letter: "PC game 00" stands on record 2, and record 8,
  // the cut one, is not there.
  Search(f, "PC game 003");
  EXPECT_EQ(Current(f), "PC game 009");
  Search(f, "PC game 005");
  EXPECT_EQ(Current(f), "PC game 005");
  EXPECT_EQ(Memo(f), "Text of PC game 005");
  EXPECT_TRUE(CheckIndex("pc").Ok()) << CheckIndex("pc").Text();

  Pick(f, "Nintendo N64");
  EXPECT_EQ(WalkWithTheKeys(f), SortedNames(tables_["n64"]));
  EXPECT_EQ(f.CheatTable()->RecordCount(), 6);
  EXPECT_TRUE(CheckIndex("n64").Ok()) << CheckIndex("n64").Text();
}

// A memo file cut short: the text that reaches the cut shows up to it, the
// texts beyond it are empty, and the reader goes on.
TEST_F(RobustReaderTest, AMemoFileCutShortShowsWhatIsLeft) {
  Write("pc", Games("PC", 10));
  // Record r's text starts at block r: record 5 ("PC game 006") keeps six
  // bytes of its text, records 6 to 10 have none left.
  std::filesystem::resize_file(programDir_ + "pc.dbt", 5 * 512 + 6);
  MainWindow& f = Start();
  EXPECT_EQ(Current(f), "PC game 001");
  EXPECT_EQ(Memo(f), "");
  Search(f, "PC game 007");
  EXPECT_EQ(Memo(f), "Text of PC game 007");
  Search(f, "PC game 006");
  EXPECT_EQ(Current(f), "PC game 006");
  EXPECT_EQ(Memo(f), "Text o");
  f.NameGrid()->setFocus();
  QTest::keyClick(f.NameGrid(), Qt::Key_Up);
  EXPECT_EQ(Current(f), "PC game 005");
  EXPECT_EQ(Memo(f), "");
  EXPECT_EQ(WalkWithTheKeys(f), SortedNames(tables_["pc"]));
  Drop(f);

  // Nothing left of it: every text is empty, the names are all there.
  std::filesystem::resize_file(programDir_ + "pc.dbt", 0);
  test::ResetAll();
  MainWindow& g = Start();
  EXPECT_EQ(Current(g), "PC game 001");
  EXPECT_EQ(Memo(g), "");
  Search(g, "PC game 010");
  EXPECT_EQ(Current(g), "PC game 010");
  EXPECT_EQ(Memo(g), "");
  EXPECT_EQ(WalkWithTheKeys(g), SortedNames(tables_["pc"]));
}

// A reader whose table cannot be opened ends with the engine's code; the
// halt's box says why.
void ExpectHalt(const std::string& dir, const std::function<void(MainWindow&)>& then, int status,
                const std::string& pattern) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        test::ResetAll();
        SetRaiseErrors(false);
        InstallHaltingPresentation();
        platform::SetHaltPresenter([](const std::string& caption, const std::string& message) {
          std::fprintf(stderr, "[%s] %s\n", caption.c_str(), platform::ToLines(message).c_str());
        });
        MainWindow form(dir + "/");
        std::fprintf(stderr, "the window was made\n");
        if (then) then(form);
        std::fprintf(stderr, "the reader went on\n");
        std::exit(0);
      },
      ::testing::ExitedWithCode(status), pattern);
}

TEST(RobustReaderDeathTest, AHeaderCutShortEndsTheProgramWithTheEnginesCode) {
  test::TempDir dir;
  test::WriteCheatTable(dir.File("pc"), Games("PC", 5));
  std::filesystem::resize_file(dir.File("pc.dbf"), 80);
  ExpectHalt(dir.path(), nullptr, 100,
             "\\[Program halted.\\] Error # 100 \\(Disk read error\\)\nError reading .*PC.DBF "
             "\\[Use/OpenDbf\\]");
  std::filesystem::resize_file(dir.File("pc.dbf"), 20);
  ExpectHalt(dir.path(), nullptr, 210,
             "\\[Program halted.\\] Error # 210 \\(Not a dBASE data file\\)\n.*PC.DBF is not a "
             "dBASE database. "
             "\\(Prolog is less than 32 bytes\\) \\[USE/OpenDBF\\]");
  // Zero-filled, as a crashed file system may leave it.
  test::WriteFile(dir.File("pc.dbf"), test::Bytes(kHeaderLength + 5 * kRecordLength, 0));
  ExpectHalt(
      dir.path(), nullptr, 210,
      "\\[Program halted.\\] Error # 210 \\(Not a dBASE data file\\)\n.*PC.DBF is not a dBASE "
      "database.\\(Invalid version byte\\)\\+ \\[USE/OpenDBF\\]");
  EXPECT_FALSE(Exists(dir.File("cheat.ndx")));
}

TEST(RobustReaderDeathTest, SwitchingToADamagedMachineEndsTheProgramWithTheEnginesCode) {
  test::TempDir dir;
  test::WriteCheatTable(dir.File("pc"), Games("PC", 5));
  test::WriteCheatTable(dir.File("n64"), Games("N64", 5));
  std::filesystem::resize_file(dir.File("n64.dbf"), 70);
  ExpectHalt(
      dir.path(),
      [](MainWindow& f) {
        if (f.CheatTable()->FieldByName("CHEATNAME")->AsString() != "PC game 001") std::exit(1);
        f.MachineBox()->setCurrentIndex(f.MachineBox()->findText("Nintendo N64"));
        f.OnMachineChosen();
      },
      100,
      "the window was made\n.*\\[Program halted.\\] Error # 100 \\(Disk read error\\)\nError "
      "reading .*N64.DBF");
}

// A table another program holds exclusively cannot be opened: the engine's
// sharing error ends the program, at the start and at a machine switch.
TEST(RobustReaderDeathTest, ATableHeldExclusivelyEndsTheProgramWithTheSharingError) {
  test::TempDir dir;
  test::WriteCheatTable(dir.File("pc"), Games("PC", 5));
  test::WriteCheatTable(dir.File("psx"), Games("PSX", 5));
  {
    test::ExclusiveHolder holder(dir.File("pc.dbf"));
    ASSERT_TRUE(holder.holding());
    ExpectHalt(
        dir.path(), nullptr, 32,
        "\\[Program halted.\\] Error # 32 \\(File sharing violation\\)\nFailure to open .*PC.DBF "
        "\\[USE/OpenDbf\\]");
  }
  test::ExclusiveHolder holder(dir.File("psx.dbt"));
  ASSERT_TRUE(holder.holding());
  ExpectHalt(
      dir.path(),
      [](MainWindow& f) {
        f.MachineBox()->setCurrentIndex(f.MachineBox()->findText("Sony Playstation"));
        f.OnMachineChosen();
      },
      32,
      "the window was made\n.*\\[Program halted.\\] Error # 32 \\(File sharing "
      "violation\\)\n.*PSX.DBT");
}

// ---------------------------------------------------------------------------
// No place for the index

// The program folder cannot be written and the user has no cache folder to
// fall back on: the index cannot be built anywhere, and the program ends
// with the engine's message instead of going on without one.
TEST(RobustReaderDeathTest, NoWritableFolderForTheIndexEndsTheProgramWithTheEnginesMessage) {
  test::TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  test::WriteCheatTable(dir.File("pc"), Games("PC", 5));
  test::TempDir readOnlyCache;
  ::chmod(readOnlyCache.path().c_str(), 0755);
  std::filesystem::create_directory(readOnlyCache.File("vorza"));
  ::chmod(readOnlyCache.File("vorza").c_str(), 0555);
  const bool root = ::geteuid() == 0;
  if (!root) ::chmod(dir.path().c_str(), 0555);
  // (A death test's child runs the test again up to its statement, in
  // folders of its own: the patterns leave their names open.)
  struct Case {
    std::string cache;    // XDG_CACHE_HOME
    std::string indexAt;  // where the build is tried
  };
  const Case cases[] = {
      // A cache folder that cannot be made (its parent is a file): the index
      // stays beside the tables.
      {dir.File("pc.dbf") + "/cache",
       "/.+/vorza-test-[^/]+/cheat.ndx \\[MakeIndex\\(<...>,cheat.ndx\\)\\]"},
      // One that exists but cannot be written.
      {readOnlyCache.path(), "/.+/vorza-test-[^/]+/vorza/cheat.ndx \\[MakeIndex"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cache);
    ScopedEnv cache("XDG_CACHE_HOME", c.cache);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
          // The whole process becomes the other user (it ends here anyway),
          // and dumpable again: otherwise the leak checker cannot inspect
          // it at exit.
          if (root && ::setresuid(65534, 65534, 65534) != 0) std::exit(99);
          if (root) ::prctl(PR_SET_DUMPABLE, 1);
          test::ResetAll();
          SetRaiseErrors(false);
          InstallHaltingPresentation();
          platform::SetHaltPresenter([](const std::string& caption, const std::string& message) {
            std::fprintf(stderr, "[%s] %s\n", caption.c_str(), platform::ToLines(message).c_str());
          });
          MainWindow form(dir.path() + "/");
          std::fprintf(stderr, "the window was made\n");
          std::exit(0);
        },
        ::testing::ExitedWithCode(5),
        "\\[Program halted.\\] Error # 5 \\(File access denied\\)\nFile not open" + c.indexAt);
  }
  ::chmod(dir.path().c_str(), 0755);
  ::chmod(readOnlyCache.File("vorza").c_str(), 0755);
  EXPECT_FALSE(Exists(dir.File("cheat.ndx")));
  EXPECT_FALSE(Exists(readOnlyCache.File("vorza/cheat.ndx")));
}

// ---------------------------------------------------------------------------
// Busy files

// Another program appends to the table the reader has open (shared, through
// the index): the new cheats are there at the reader's next move, in name
// order, found by the search box, with their texts.
TEST_F(RobustReaderTest, CheatsAppendedByAnotherProgramAppearAfterTheNextMove) {
  Write("pc", Games("PC", 30));
  MainWindow& f = Start();
  ASSERT_EQ(Current(f), "PC game 001");
  std::string err;
  ASSERT_EQ(test::AppendCheats(
                programDir_ + "pc.dbf", programDir_ + "cheat.ndx",
                {"Aardvark=first by name", "PC game 010b=between", "Zebra=last by name"}, &err),
            0)
      << err;
  tables_["pc"].push_back({"Aardvark", "first by name"});
  tables_["pc"].push_back({"PC game 010b", "between"});
  tables_["pc"].push_back({"Zebra", "last by name"});
  // The search box scans the records in their order: the new ones are the
  // last three.
  Search(f, "aard");
  EXPECT_EQ(Current(f), "Aardvark");
  EXPECT_EQ(f.CheatTable()->RecNo(), 31);
  EXPECT_EQ(Memo(f), "first by name");
  EXPECT_EQ(GridRows(f).at(0), ">Aardvark");
  EXPECT_EQ(GridRows(f).at(1), "PC game 001");
  Search(f, "PC game 010b");
  EXPECT_EQ(Current(f), "PC game 010b");
  EXPECT_EQ(Memo(f), "between");
  EXPECT_EQ(WalkWithTheKeys(f), SortedNames(tables_["pc"]));
  EXPECT_EQ(Current(f), "Zebra");
  EXPECT_EQ(Memo(f), "last by name");
  test::NdxCheckOptions o;
  o.Records = 33;
  o.ExactSize = false;
  o.AllowEmptyLeaves = true;
  const test::NdxReport r = test::CheckNdxFile(programDir_ + "cheat.ndx", o);
  EXPECT_TRUE(r.Ok()) << r.Text();
}

// Two readers of one catalogue, the second in a process of its own: each
// shows its own machine in name order while the other switches machines
// (rebuilding the shared cheat.ndx), also onto the machine it reads, and
// while the other's File/Exit deletes the index.
TEST_F(RobustReaderTest, TwoReadersOfOneCatalogue) {
  Write("pc", Games("PC", 25));
  Write("n64", Games("N64", 14));
  Write("psx", Games("PSX", 9));
  MainWindow& a = Start();
  EXPECT_EQ(Current(a), "PC game 001");
  test::SecondReader b;
  ASSERT_TRUE(b.Open(programDir_ + "pc.dbf"));
  EXPECT_EQ(b.Names(), SortedNames(tables_["pc"]));
  ASSERT_TRUE(b.Open(programDir_ + "n64.dbf"));
  EXPECT_EQ(b.Names(), SortedNames(tables_["n64"]));
  EXPECT_EQ(WalkWithTheKeys(a), SortedNames(tables_["pc"]));
  // B back on A's machine, where cheat.ndx is N64's now.
  ASSERT_TRUE(b.Open(programDir_ + "pc.dbf"));
  EXPECT_EQ(b.Names(), SortedNames(tables_["pc"]));
  EXPECT_EQ(b.Locate("pc game 017"), "PC game 017");
  Search(a, "pc game 017");
  EXPECT_EQ(Current(a), "PC game 017");
  const Strings rows = GridRows(a);
  const auto shown = std::find(rows.begin(), rows.end(), ">PC game 017");
  ASSERT_NE(shown, rows.end());
  if (shown + 1 != rows.end()) {
    EXPECT_EQ(shown[1], "PC game 018");
  }
  EXPECT_EQ(Memo(a), "Text of PC game 017");

  // A away and back onto the machine B reads.
  Pick(a, "Sony Playstation");
  EXPECT_EQ(WalkWithTheKeys(a), SortedNames(tables_["psx"]));
  EXPECT_EQ(b.Names(), SortedNames(tables_["pc"]));
  Pick(a, "IBM/PC");
  EXPECT_EQ(WalkWithTheKeys(a), SortedNames(tables_["pc"]));
  EXPECT_EQ(b.Names(), SortedNames(tables_["pc"]));

  // A's File/Exit deletes the index B has open.
  a.ExitAction()->trigger();
  EXPECT_FALSE(a.CheatTable()->Active());
  EXPECT_FALSE(Exists(programDir_ + "cheat.ndx"));
  EXPECT_EQ(b.Names(), SortedNames(tables_["pc"]));
  EXPECT_EQ(b.Locate("pc game 02"), "PC game 025");
  ASSERT_TRUE(b.Open(programDir_ + "n64.dbf"));
  EXPECT_EQ(b.Names(), SortedNames(tables_["n64"]));

  // And B's the index of a new A.
  MainWindow& again = Start();
  EXPECT_TRUE(CheckIndex("pc").Ok()) << CheckIndex("pc").Text();
  EXPECT_TRUE(b.Exit());
  EXPECT_FALSE(Exists(programDir_ + "cheat.ndx"));
  EXPECT_EQ(WalkWithTheKeys(again), SortedNames(tables_["pc"]));
  Search(again, "pc game 00");
  EXPECT_EQ(Current(again), "PC game 009");
}

// A reader that was killed leaves its semaphore file behind, but no lock on
// it: the next reader does not take it for a user of the table, and builds
// an index that no longer fits anew.
TEST_F(RobustReaderTest, AKilledReadersSemaphoreFileHoldsNothingUp) {
  Write("pc", Games("PC", 20));
  {
    test::SecondReader killed;
    ASSERT_TRUE(killed.Open(programDir_ + "pc.dbf"));
    EXPECT_EQ(killed.Names(), SortedNames(tables_["pc"]));
    killed.Kill();
    EXPECT_EQ(killed.Status(), 128 + SIGKILL);
  }
  ASSERT_TRUE(Exists(programDir_ + "pc.@S@"));
  ASSERT_TRUE(Exists(programDir_ + "cheat.ndx"));
  // The catalogue was updated meanwhile: cheat.ndx does not fit it.
  Write("pc", Games("PC", 26));
  MainWindow& f = Start();
  EXPECT_EQ(WalkWithTheKeys(f), SortedNames(tables_["pc"]));
  EXPECT_TRUE(CheckIndex("pc").Ok()) << CheckIndex("pc").Text();
}

// ---------------------------------------------------------------------------
// The read-only promise

// A whole session (start, search, scroll, every machine, print, File/Exit)
// leaves every table and memo file byte for byte as it was, with its time
// stamp; the tables cannot even be opened for writing meanwhile. Nothing is
// left beside them but the semaphore files of the shared index.
TEST_F(RobustReaderTest, ASessionLeavesEveryTableAndMemoFileAsItWas) {
  Write("pc", Games("PC", 40));
  Write("n64", Games("N64", 25));
  Write("psx", Games("PSX", 12));
  Write("dream", Games("DC", 31));
  std::vector<std::string> files;
  for (const auto& [base, cheats] : tables_)
    for (const char* ext : {".dbf", ".dbt"}) files.push_back(programDir_ + base + ext);
  // Old time stamps, so that a rewrite within the same second shows too.
  for (const std::string& file : files)
    std::filesystem::last_write_time(
        file, std::filesystem::file_time_type::clock::now() - std::chrono::hours(30));
  // Writable for the user the session runs as: a write would go through
  // and show in the stamps.
  for (const std::string& file : files) ::chmod(file.c_str(), 0666);
  ::chmod(dir_.path().c_str(), 0777);
  std::map<std::string, test::FileStamp> before;
  for (const std::string& file : files) before[file] = test::StampOf(file);
  test::TempDir printed;
  ::chmod(printed.path().c_str(), 0777);
  const std::string pdf = printed.File("cheat.pdf");
  {
    Unprivileged user;
    MainWindow& f = Start();
    int jobs = 0;
    f.SetPrinterSource([&] {
      auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
      printer->setOutputFormat(QPrinter::PdfFormat);
      printer->setOutputFileName(QString::fromStdString(pdf));
      ++jobs;
      return printer;
    });
    Search(f, "pc game 03");
    EXPECT_EQ(Current(f), "PC game 039");
    f.NameGrid()->setFocus();
    for (Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_PageDown, Qt::Key_Up, Qt::Key_PageUp,
                        Qt::Key_End, Qt::Key_Home})
      QTest::keyClick(f.NameGrid(), key);
    QTest::keyClick(f.NameGrid(), Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(Current(f), "PC game 040");
    QTest::mouseClick(f.PrintButton(), Qt::LeftButton);
    const std::pair<const char*, const char*> machines[] = {{"Nintendo N64", "N64"},
                                                            {"Sega Dreamcast", "DC"},
                                                            {"Sony Playstation", "PSX"},
                                                            {"IBM/PC", "PC"}};
    for (const auto& [machine, prefix] : machines) {
      Pick(f, machine);
      EXPECT_EQ(f.MachineBox()->currentText(), machine);
      Search(f, QString(prefix) + " game 00");
      EXPECT_EQ(Current(f), std::string(prefix) + " game 009");
      EXPECT_EQ(Memo(f), "Text of " + Current(f));
      f.NameGrid()->setFocus();
      QTest::keyClick(f.NameGrid(), Qt::Key_PageDown);
      QTest::keyClick(f.NameGrid(), Qt::Key_Down);
      QTest::mouseClick(f.PrintButton(), Qt::LeftButton);
    }
    EXPECT_EQ(jobs, 5);
    QTest::keyClick(f.SearchBox(), Qt::Key_X, Qt::ControlModifier);  // File/Exit
    EXPECT_FALSE(f.CheatTable()->Active());
  }
  EXPECT_TRUE(Exists(pdf));
  for (const std::string& file : files) {
    const test::FileStamp after = test::StampOf(file);
    EXPECT_EQ(after, before[file])
        << file << ": " << test::Describe(before[file]) << " became " << test::Describe(after);
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    const std::string name = entry.path().filename().string();
    const bool table = std::find(files.begin(), files.end(), entry.path().string()) != files.end();
    const bool semaphore = name.size() > 4 && name.substr(name.size() - 4) == ".@S@";
    EXPECT_TRUE(table || semaphore) << name << " was left beside the tables";
  }
  for (const std::string& file : files) ::chmod(file.c_str(), 0644);
}

}  // namespace
}  // namespace vz::app
