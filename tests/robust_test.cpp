// Damaged and busy files below the reader's window: vorza-dbf on tables,
// memo files and indexes that were cut, emptied or never finished (the
// engine's message and exit status, or the part that can be read); an index
// build killed in its middle; the reader's table component beside a second
// reader of the same catalogue and beside a program that appends to the
// shared table.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "engine/errors.h"
#include "index/indexes.h"
#include "platform/files.h"
#include "tests/support/Compat.h"
#include "tests/support/DbtBuilder.h"
#include "tests/support/NdxBuilder.h"
#include "tests/support/NdxChecker.h"
#include "tests/support/Processes.h"
#include "tests/support/TableFixture.h"

namespace vz {
namespace {

using test::Cheat;
using test::RunTool;
using test::ShellQuote;
using Strings = std::vector<std::string>;

// The cheat tables' layout as WriteCheatTable writes it.
constexpr long kHeaderLength = 32 + 2 * 32 + 1;
constexpr long kRecordLength = 1 + 35 + 10;

Strings Lines(const std::string& text) {
  Strings out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The names `list` printed (its third column).
Strings ListedNames(const std::string& out) {
  Strings names;
  for (const std::string& line : Lines(out)) {
    const std::size_t a = line.find('\t');
    const std::size_t b = line.find('\t', a + 1);
    const std::size_t c = line.find('\t', b + 1);
    names.push_back(line.substr(b + 1, c - b - 1));
  }
  return names;
}

std::string Name(int i) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "Game %03d", i);
  return buffer;
}

// Ten cheats "Game 000" ... "Game 009", each with a two-line text, memo i+1
// in block i+1 of the memo file.
std::vector<Cheat> TenGames() {
  std::vector<Cheat> cheats;
  for (int i = 0; i < 10; ++i)
    cheats.push_back({Name(i), "Text of game " + std::to_string(i) + "\r\nsecond line"});
  return cheats;
}

void CutFile(const std::string& path, long size) {
  std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
}

class CliDamagedTest : public ::testing::Test {
 protected:
  std::string File(const std::string& name) const { return ShellQuote(dir_.File(name)); }
  test::TempDir dir_;
};

// A data file that ends inside a record: the records before it are the
// table (the record count comes from the file's size), the cut one is not
// there, and nothing reads past the file.
TEST_F(CliDamagedTest, ATableCutInsideARecordIsReadUpToItsLastWholeRecord) {
  test::WriteCheatTable(dir_.File("pc"), TenGames());
  CutFile(dir_.File("pc.dbf"), kHeaderLength + 7 * kRecordLength + 20);
  std::string out, err;
  ASSERT_EQ(RunTool("info " + File("pc.dbf"), &out, &err), 0) << err;
  EXPECT_EQ(Lines(out).at(1), "records 7");
  ASSERT_EQ(RunTool("list " + File("pc.dbf"), &out, &err), 0) << err;
  EXPECT_EQ(ListedNames(out),
            (Strings{Name(0), Name(1), Name(2), Name(3), Name(4), Name(5), Name(6)}));
  ASSERT_EQ(RunTool("memo " + File("pc.dbf") + " 7", &out, &err), 0) << err;
  EXPECT_EQ(out, "Text of game 6\r\nsecond line");
  // The cut record is beyond the table.
  EXPECT_EQ(RunTool("memo " + File("pc.dbf") + " 8", &out, &err), 212);
  EXPECT_EQ(out, "");
  EXPECT_EQ(Lines(err).at(0), "Error # 212 (Request beyond range)");
  EXPECT_NE(err.find("[GO]"), std::string::npos) << err;
  ASSERT_EQ(RunTool("locate " + File("pc.dbf") + " cheatname 'Game 007'", &out, &err), 0) << err;
  EXPECT_EQ(out, "0\n");
  // An index of the readable part.
  ASSERT_EQ(RunTool("index " + File("pc.dbf") + " cheatname " + File("pc.ndx"), &out, &err), 0)
      << err;
  ASSERT_EQ(RunTool("ndxinfo " + File("pc.ndx"), &out, &err), 0) << err;
  EXPECT_EQ(Lines(out).at(5), "records 7");
  test::NdxCheckOptions o;
  o.Records = 7;
  o.AnchorCount = 7;
  o.Table = "PC.DBF";
  const test::NdxReport r = test::CheckNdxFile(dir_.File("pc.ndx"), o);
  EXPECT_TRUE(r.Ok()) << r.Text();
}

// A header that promises more records than the file holds: the reader's
// way of opening counts the records that are there.
TEST_F(CliDamagedTest, AHeaderCountBeyondTheFileCountsTheRecordsThatAreThere) {
  for (const std::uint32_t promised : {6u, 1000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    SCOPED_TRACE(promised);
    test::DbtBuilder memo(false);
    test::DbfBuilder b;
    b.Version(0x83)
        .Field("CHEATNAME", 'C', 35)
        .Field("CHEATMEMO", 'M', 10)
        .HeaderRecordCount(promised);
    for (int i = 4; i >= 0; --i)
      b.Record({Name(i), test::MemoField(memo.Add("text " + std::to_string(i)))});
    b.Write(dir_.File("big.dbf"));
    memo.Write(dir_.File("big.dbt"));
    std::string out, err;
    ASSERT_EQ(RunTool("info " + File("big.dbf"), &out, &err), 0) << err;
    EXPECT_EQ(Lines(out).at(1), "records 5");
    ASSERT_EQ(RunTool("list " + File("big.dbf"), &out, &err), 0) << err;
    EXPECT_EQ(ListedNames(out), (Strings{Name(4), Name(3), Name(2), Name(1), Name(0)}));
    ASSERT_EQ(RunTool("memo " + File("big.dbf") + " 5", &out, &err), 0) << err;
    EXPECT_EQ(out, "text 0");
    EXPECT_EQ(RunTool("memo " + File("big.dbf") + " 6", &out, &err), 212);
    ASSERT_EQ(RunTool("index " + File("big.dbf") + " cheatname " + File("big.ndx"), &out, &err), 0)
        << err;
    ASSERT_EQ(RunTool("list " + File("big.dbf") + " --index " + File("big.ndx"), &out, &err), 0)
        << err;
    EXPECT_EQ(ListedNames(out), (Strings{Name(0), Name(1), Name(2), Name(3), Name(4)}));
  }
}

// A memo file cut short: the text that reaches the cut is read up to it,
// a memo that starts beyond it is an invalid memo address (1003, exit 235),
// and the table itself stays readable.
TEST_F(CliDamagedTest, AMemoFileCutShort) {
  test::WriteCheatTable(dir_.File("pc"), TenGames());
  // Memo 4 (record 5) starts at block 5; six of its bytes are left.
  CutFile(dir_.File("pc.dbt"), 5 * 512 + 6);
  std::string out, err;
  ASSERT_EQ(RunTool("memo " + File("pc.dbf") + " 4", &out, &err), 0) << err;
  EXPECT_EQ(out, "Text of game 3\r\nsecond line");
  ASSERT_EQ(RunTool("memo " + File("pc.dbf") + " 5", &out, &err), 0) << err;
  EXPECT_EQ(out, "Text o");
  EXPECT_EQ(RunTool("memo " + File("pc.dbf") + " 6", &out, &err), 1003 % 256);
  EXPECT_EQ(out, "");
  EXPECT_EQ(Lines(err).at(0), "Error # 1003 (Invalid memo address)") << err;
  EXPECT_NE(err.find("Record # 6 [CreateBlobDescriptor]"), std::string::npos) << err;
  ASSERT_EQ(RunTool("list " + File("pc.dbf"), &out, &err), 0) << err;
  EXPECT_EQ(Lines(out).size(), 10u);

  // Nothing left of it at all.
  CutFile(dir_.File("pc.dbt"), 0);
  ASSERT_EQ(RunTool("list " + File("pc.dbf"), &out, &err), 0) << err;
  EXPECT_EQ(Lines(out).size(), 10u);
  EXPECT_EQ(RunTool("memo " + File("pc.dbf") + " 1", &out, &err), 1003 % 256);
  EXPECT_EQ(Lines(err).at(0), "Error # 1003 (Invalid memo address)") << err;
  // Gone: the table does not open.
  std::filesystem::remove(dir_.File("pc.dbt"));
  EXPECT_EQ(RunTool("list " + File("pc.dbf"), &out, &err), 2);
  EXPECT_EQ(Lines(err).at(0), "Error # 2 (File not found)") << err;
  EXPECT_NE(err.find("Memo file not found: "), std::string::npos) << err;
}

// A header cut short is refused by every command with the engine's code.
TEST_F(CliDamagedTest, AHeaderCutShortIsRefusedWithTheEnginesCode) {
  struct Case {
    long size;
    int status;
    const char* first;
    const char* detail;
  };
  const Case cases[] = {
      {kHeaderLength - 17, 100, "Error # 100 (Disk read error)", "[Use/OpenDbf]"},
      {40, 100, "Error # 100 (Disk read error)", "[Use/OpenDbf]"},
      {20, 210, "Error # 210 (Not a dBASE data file)",
       "(Prolog is less than 32 bytes) [USE/OpenDBF]"},
      {0, 210, "Error # 210 (Not a dBASE data file)",
       "(Prolog is less than 32 bytes) [USE/OpenDBF]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    test::WriteCheatTable(dir_.File("pc"), TenGames());
    CutFile(dir_.File("pc.dbf"), c.size);
    for (const std::string& command :
         {"info " + File("pc.dbf"), "list " + File("pc.dbf"), "memo " + File("pc.dbf") + " 1",
          "locate " + File("pc.dbf") + " cheatname G",
          "index " + File("pc.dbf") + " cheatname " + File("pc.ndx")}) {
      SCOPED_TRACE(command);
      std::string out, err;
      EXPECT_EQ(RunTool(command, &out, &err), c.status);
      EXPECT_EQ(out, "");
      const Strings lines = Lines(err);
      ASSERT_EQ(lines.size(), 2u) << err;
      EXPECT_EQ(lines[0], c.first);
      EXPECT_NE(lines[1].find(c.detail), std::string::npos) << lines[1];
    }
    EXPECT_FALSE(std::filesystem::exists(dir_.File("pc.ndx")));
  }
}

// Indexes that were cut or emptied: the anchor's record-count check fails
// (ndxinfo says -1) or the file is shorter than its anchor says; opening
// one is the engine's "corrupted index" error, never a walk into nothing.
TEST_F(CliDamagedTest, IndexesCutOrEmptiedAreRefusedWhenOpened) {
  test::WriteCheatTable(dir_.File("pc"), TenGames());
  std::string out, err;
  ASSERT_EQ(RunTool("index " + File("pc.dbf") + " cheatname " + File("good.ndx"), &out, &err), 0)
      << err;
  const test::Bytes good = test::ReadFile(dir_.File("good.ndx"));
  ASSERT_GE(good.size(), 1024u);
  struct Case {
    const char* what;
    test::Bytes bytes;
    int records;  // what ndxinfo says
  };
  std::vector<Case> cases;
  cases.push_back({"zero-filled", test::Bytes(good.size(), 0), -1});
  cases.push_back({"cut to its anchor's half", test::Bytes(good.begin(), good.begin() + 300), -1});
  cases.push_back({"cut after its anchor", test::Bytes(good.begin(), good.begin() + 700), 10});
  cases.push_back({"cut in its last node", test::Bytes(good.begin(), good.end() - 100), 10});
  test::Bytes nodesZeroed = good;
  std::fill(nodesZeroed.begin(), nodesZeroed.begin() + 512, 0);
  cases.push_back({"anchor zeroed", nodesZeroed, -1});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::WriteFile(dir_.File("bad.ndx"), c.bytes);
    if (c.bytes.size() >= 512) {
      ASSERT_EQ(RunTool("ndxinfo " + File("bad.ndx"), &out, &err), 0) << err;
      EXPECT_EQ(Lines(out).at(5), "records " + std::to_string(c.records));
    } else {
      EXPECT_EQ(RunTool("ndxinfo " + File("bad.ndx"), &out, &err), 100);
      EXPECT_NE(err.find("[IndexInfo(<>,"), std::string::npos) << err;
    }
    for (const std::string& command :
         {"list " + File("pc.dbf") + " --index " + File("bad.ndx"),
          "find " + File("pc.dbf") + " " + File("bad.ndx") + " Game"}) {
      SCOPED_TRACE(command);
      EXPECT_EQ(RunTool(command, &out, &err), 222);
      EXPECT_EQ(out, "");
      EXPECT_EQ(Lines(err).at(0), "Error # 222 (Corrupted index file)") << err;
    }
  }
}

// --- An index build killed in its middle ------------------------------------------------------

// A table big enough that its build writes many nodes.
constexpr int kManyRecords = 20000;

std::string ScrambledName(int i) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "Cheat %05d", static_cast<int>((i * 7919L) % kManyRecords));
  return buffer;
}

void WriteManyCheats(const std::string& base) {
  std::vector<Cheat> cheats;
  for (int i = 0; i < kManyRecords; ++i)
    cheats.push_back({ScrambledName(i), i % 1000 == 0 ? "text" : ""});
  test::WriteCheatTable(base, cheats);
}

class KilledBuildTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetAll(); }
  void TearDown() override { test::ResetAll(); }
  test::TempDir dir_;
  test::TempDir sortDir_;
};

TEST_F(KilledBuildTest, AnIndexLeftByAKilledBuildIsNeverTrustedAndIsRebuilt) {
  WriteManyCheats(dir_.File("pc"));
  const std::string ndx = dir_.File("cheat.ndx");
  const test::KilledBuild k =
      test::KillIndexBuild(dir_.File("pc.dbf"), "cheatname", ndx, 70, sortDir_.path());
  ASSERT_TRUE(k.killed) << k.problem;
  // It died while writing nodes: some are on disk, the anchor is not.
  EXPECT_GT(k.sizeAtKill, 512);
  const test::Bytes left = test::ReadFile(ndx);
  ASSERT_GT(left.size(), 512u);
  EXPECT_TRUE(std::all_of(left.begin(), left.begin() + 512, [](std::uint8_t b) { return b == 0; }));
  std::string out, err;
  ASSERT_EQ(RunTool("ndxinfo " + ShellQuote(ndx), &out, &err), 0) << err;
  EXPECT_EQ(Lines(out).at(5), "records -1");
  EXPECT_EQ(RunTool("find " + ShellQuote(dir_.File("pc.dbf")) + " " + ShellQuote(ndx) + " Cheat",
                    &out, &err),
            222);

  // The reader's table component builds it again.
  DbfTable t;
  test::ConfigureLikeCheatDbf(t, "1," + ndx + ",CHEATNAME");
  int builds = 0;
  t.OnAfterMakeIndex = [&](const std::string&) { ++builds; };
  t.SetDbfFileName(dir_.File("pc.dbf"));
  t.Open();
  t.First();
  EXPECT_EQ(builds, 1);
  Strings first;
  for (int i = 0; i < 3 && !t.Eof(); ++i, t.Next())
    first.push_back(t.FieldByName("CHEATNAME")->AsString());
  EXPECT_EQ(first, (Strings{"Cheat 00000", "Cheat 00001", "Cheat 00002"}));
  t.Close();
  test::NdxCheckOptions o;
  o.Records = kManyRecords;
  o.AnchorCount = kManyRecords;
  o.Table = "PC.DBF";
  o.Expression = "CHEATNAME";
  const test::NdxReport r = test::CheckNdxFile(ndx, o);
  EXPECT_TRUE(r.Ok()) << r.Text();
}

// --- Two readers, and a program that appends ---------------------------------------------------

// The visible names of a table from First to the end, in its order.
Strings Browse(DbfTable& t) {
  Strings names;
  t.First();
  for (; !t.Eof(); t.Next()) names.push_back(t.FieldByName("CHEATNAME")->AsString());
  return names;
}

std::vector<Cheat> Machine(const std::string& prefix, int count) {
  std::vector<Cheat> cheats;
  for (int i = count; i >= 1; --i)
    cheats.push_back({prefix + " " + std::to_string(100 + i), "text " + std::to_string(i)});
  return cheats;
}

Strings NamesInOrder(std::vector<Cheat> cheats) {
  Strings names;
  for (const Cheat& c : cheats)
    if (!c.deleted) names.push_back(c.name);
  std::sort(names.begin(), names.end());
  return names;
}

class SharedUseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetAll();
    platform::SetMessagePresenter([this](const std::string& m) { messages_.push_back(m); });
  }
  void TearDown() override {
    platform::SetMessagePresenter(nullptr);
    test::ResetAll();
    EXPECT_TRUE(messages_.empty()) << messages_.front();
  }
  // A table component set up as the reader's, on the shared cheat.ndx.
  std::unique_ptr<DbfTable> Reader(const std::string& machine) {
    auto t = std::make_unique<DbfTable>();
    test::ConfigureLikeCheatDbf(*t, "1,cheat.ndx,CHEATNAME");
    t->OnAfterMakeIndex = [this](const std::string&) { ++builds_; };
    t->SetDbfFileName(dir_.File(machine));
    t->Open();
    t->First();
    return t;
  }
  void Switch(DbfTable& t, const std::string& machine) {
    t.SetDbfFileName(dir_.File(machine));
    t.Open();
    t.First();
  }
  test::TempDir dir_;
  int builds_ = 0;
  Strings messages_;
};

// Two readers of one catalogue, each in its own process, share cheat.ndx:
// one of them going to another machine (and so rebuilding the file) and
// back, and the other's File/Exit deleting it, leave both showing their own
// table in name order.
TEST_F(SharedUseTest, TwoReadersOfOneCatalogue) {
  const auto pc = Machine("PC", 8), n64 = Machine("N64", 12);
  test::WriteCheatTable(dir_.File("pc"), pc);
  test::WriteCheatTable(dir_.File("n64"), n64);
  auto a = Reader("pc.dbf");
  EXPECT_EQ(builds_, 1);
  test::SecondReader b;
  ASSERT_TRUE(b.Open(dir_.File("pc.dbf")));  // A uses the index: B takes it as it is
  EXPECT_EQ(b.Names(), NamesInOrder(pc));
  const test::FileStamp shared = test::StampOf(dir_.File("cheat.ndx"));

  ASSERT_TRUE(b.Open(dir_.File("n64.dbf")));
  EXPECT_EQ(b.Names(), NamesInOrder(n64));
  EXPECT_NE(test::StampOf(dir_.File("cheat.ndx")), shared) << "B built N64's index";
  EXPECT_EQ(Browse(*a), NamesInOrder(pc));

  // B back on the machine A is reading: the file on disk is N64's index
  // now, which is nobody's index of PC.DBF.
  ASSERT_TRUE(b.Open(dir_.File("pc.dbf")));
  EXPECT_EQ(b.Names(), NamesInOrder(pc));
  EXPECT_EQ(b.Locate("pc 105"), "PC 105");
  EXPECT_EQ(Browse(*a), NamesInOrder(pc));
  test::NdxCheckOptions o;
  o.Records = 8;
  o.AnchorCount = 8;
  o.Table = "PC.DBF";
  test::NdxReport r = test::CheckNdxFile(dir_.File("cheat.ndx"), o);
  EXPECT_TRUE(r.Ok()) << r.Text();

  // The same the other way round: A goes to N64 and back while B reads PC.
  Switch(*a, "n64.dbf");
  EXPECT_EQ(Browse(*a), NamesInOrder(n64));
  EXPECT_EQ(b.Names(), NamesInOrder(pc));
  Switch(*a, "pc.dbf");
  EXPECT_EQ(Browse(*a), NamesInOrder(pc));
  EXPECT_EQ(b.Names(), NamesInOrder(pc));

  // A's File/Exit deletes the index B has open.
  a->Close();
  ASSERT_EQ(platform::DeleteFile(dir_.File("cheat.ndx")), 0);
  a.reset();
  EXPECT_EQ(b.Names(), NamesInOrder(pc));
  EXPECT_EQ(b.Locate("pc 10"), "PC 108");
  ASSERT_TRUE(b.Open(dir_.File("n64.dbf")));
  EXPECT_EQ(b.Names(), NamesInOrder(n64));
  // And B's File/Exit the index A would use next.
  a = Reader("pc.dbf");
  EXPECT_TRUE(b.Exit());
  EXPECT_EQ(Browse(*a), NamesInOrder(pc));
}

// Another program appends to the table a reader has open: the reader shows
// the new cheats after its next move, in name order, and the shared index
// holds every record.
TEST_F(SharedUseTest, CheatsAppendedByAnotherProgramAppearInNameOrder) {
  auto pc = Machine("PC", 8);
  test::WriteCheatTable(dir_.File("pc"), pc);
  auto t = Reader("pc.dbf");
  ASSERT_EQ(Browse(*t), NamesInOrder(pc));
  std::string err;
  ASSERT_EQ(
      test::AppendCheats(dir_.File("pc.dbf"), dir_.File("cheat.ndx"),
                         {"Aardvark=first by name", "PC 104b=between", "Zebra=last by name"}, &err),
      0)
      << err;
  pc.push_back({"Aardvark", "first by name"});
  pc.push_back({"PC 104b", "between"});
  pc.push_back({"Zebra", "last by name"});
  EXPECT_EQ(Browse(*t), NamesInOrder(pc));
  t->LocateRec("cheatname", "pc 104b");
  EXPECT_EQ(t->RecNo(), 10);
  EXPECT_EQ(t->FieldByName("CHEATMEMO")->AsString(), "between");
  test::NdxCheckOptions o;
  o.Records = 11;
  o.ExactSize = false;
  o.AllowEmptyLeaves = true;
  const test::NdxReport r = test::CheckNdxFile(dir_.File("cheat.ndx"), o);
  EXPECT_TRUE(r.Ok()) << r.Text();
  EXPECT_EQ(builds_, 1);
}

}  // namespace
}  // namespace vz
