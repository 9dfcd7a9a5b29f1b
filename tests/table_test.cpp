// The table component as the reader uses it: opening with its index,
// browsing in name order through a data link, LocateRec, memo streams,
// and the open sequence's index modes.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "engine/dbf.h"
#include "engine/engine_context.h"
#include "engine/errors.h"
#include "engine/trim.h"
#include "engine/work_area.h"
#include "index/expr.h"
#include "index/indexes.h"
#include "platform/files.h"
#include "platform/hooks.h"
#include "tests/support/TableFixture.h"

namespace vz {
namespace {

using test::Cheat;
using test::RecordingLink;

class TableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ResetAll();
    messages_.clear();
    platform::SetMessagePresenter([this](const std::string& m) { messages_.push_back(m); });
  }
  void TearDown() override {
    link_.SetDataSource(nullptr);
    table_.reset();
    platform::SetMessagePresenter(nullptr);
    test::ResetAll();
  }

  // A machine table of names (OEM) in this record order.
  void Machine(const std::string& base, const std::vector<Cheat>& cheats) {
    test::WriteCheatTable(dir_.File(base), cheats);
  }

  DbfTable& Open(const std::string& base, int rows = 5) {
    table_ = std::make_unique<DbfTable>();
    test::ConfigureLikeCheatDbf(*table_, "1," + dir_.File("cheat.ndx") + ",CHEATNAME");
    source_.SetDataSet(table_.get());
    link_.SetDataSource(&source_);
    link_.SetBufferCount(rows);
    table_->SetDbfFileName(dir_.File(base));
    table_->Open();
    table_->First();
    return *table_;
  }

  static std::vector<Cheat> Games() {
    return {{"Quake", "q text"}, {"Doom", "d text"}, {"Zork", "z", true}, {"Abuse", "a"},
            {"Heretic", "h"},    {"Blood", "b"},     {"Myst", "m"},       {"Doom II", "d2"}};
  }

  test::TempDir dir_;
  std::unique_ptr<DbfTable> table_;
  data::DataSource source_;
  RecordingLink link_;
  std::vector<std::string> messages_;
};

TEST_F(TableTest, OpensLikeTheReaderAndBrowsesInNameOrder) {
  Machine("pc", Games());
  DbfTable& t = Open("pc");
  EXPECT_TRUE(platform::FileExists(dir_.File("cheat.ndx")));
  EXPECT_EQ(link_.Rows("cheatname"),
            (std::vector<std::string>{">Abuse", " Blood", " Doom", " Doom II", " Heretic"}));
  EXPECT_EQ(t.RecNo(), 4);        // the physical record number
  EXPECT_EQ(t.RecordCount(), 8);  // deleted records count
  // The engine stands on the active record.
  EXPECT_EQ(vz::RecNo(), 4);
  t.Next();
  EXPECT_EQ(link_.ActiveText("cheatname"), "Blood");
  EXPECT_EQ(vz::RecNo(), 6);
  for (int i = 0; i < 10; ++i) t.Next();
  EXPECT_TRUE(t.Eof());
  EXPECT_EQ(link_.Rows("cheatname"),
            (std::vector<std::string>{" Doom", " Doom II", " Heretic", " Myst", ">Quake"}));
  t.Last();
  EXPECT_EQ(link_.ActiveText("cheatname"), "Quake");
  t.First();
  EXPECT_EQ(link_.ActiveText("cheatname"), "Abuse");
  EXPECT_TRUE(t.Bof());
}

TEST_F(TableTest, LocateRecIsTheSearchBox) {
  Machine("pc", Games());
  DbfTable& t = Open("pc");
  link_.Log.clear();
  t.LocateRec("cheatname", "doom");
  EXPECT_EQ(link_.ActiveText("cheatname"), "Doom");
  EXPECT_EQ(vz::RecNo(), 2);
  EXPECT_EQ(link_.Rows("cheatname")[link_.ActiveRecord()], ">Doom");
  t.LocateRec("cheatname", "DOOM I   ");
  EXPECT_EQ(link_.ActiveText("cheatname"), "Doom II");
  t.LocateRec("cheatname", "");
  EXPECT_EQ(link_.ActiveText("cheatname"), "Quake");  // record 1
  // A miss changes nothing the links see, and the engine stays on the
  // active record.
  const std::vector<std::string> before = link_.Rows("cheatname");
  link_.Log.clear();
  t.LocateRec("cheatname", "xyz");
  EXPECT_EQ(link_.Rows("cheatname"), before);
  EXPECT_TRUE(link_.Log.empty());
  EXPECT_EQ(vz::RecNo(), 1);
  EXPECT_FALSE(dEOF());
  // A match on a deleted record shows the next visible one in name order.
  t.LocateRec("cheatname", "zo");
  EXPECT_EQ(link_.ActiveText("cheatname"), "Quake");
}

// A while condition on the component's work area limits the browse to the
// run of records, in name order, around the current one for which it
// holds: each name prefix of the table, taken as the condition, gives
// exactly the names that start with it, from First forwards and from Last
// backwards, and the moves at both ends stop at the range's ends; a
// condition the current record fails leaves nothing to browse.
TEST_F(TableTest, BrowsingKeepsToTheWhileRange) {
  Machine("pc", Games());
  DbfTable& t = Open("pc");
  const std::vector<std::string> names = {"Abuse",   "Blood", "Doom", "Doom II",
                                          "Heretic", "Myst",  "Quake"};
  auto browse = [&] {
    std::vector<std::string> seen;
    t.First();
    for (int i = 0; i < 20 && !t.Eof(); ++i, t.Next())
      seen.push_back(link_.ActiveText("cheatname"));
    return seen;
  };
  auto browseBack = [&] {
    std::vector<std::string> seen;
    t.Last();
    for (int i = 0; i < 20 && !t.Bof(); ++i, t.Prior())
      seen.insert(seen.begin(), link_.ActiveText("cheatname"));
    return seen;
  };
  for (const std::string prefix : {"A", "B", "D", "Doom", "Doom I", "H", "M", "Q"}) {
    SCOPED_TRACE(prefix);
    std::vector<std::string> expected;
    for (const std::string& n : names)
      if (n.rfind(prefix, 0) == 0) expected.push_back(n);
    t.LocateRec("cheatname", prefix);
    ASSERT_EQ(link_.ActiveText("cheatname"), expected.front());
    t.SelectWorkArea("test");
    ASSERT_TRUE(SetWhileExpr("CHEATNAME = '" + prefix + "'"));
    // Each browse ends with a move that stepped out of the range; First
    // and Last from there find the whole range again.
    EXPECT_EQ(browse(), expected);
    t.First();
    EXPECT_EQ(link_.ActiveText("cheatname"), expected.front());
    EXPECT_EQ(browse(), expected);
    EXPECT_EQ(browseBack(), expected);
    t.Last();
    EXPECT_EQ(link_.ActiveText("cheatname"), expected.back());
    EXPECT_EQ(browseBack(), expected);
    t.First();
    EXPECT_EQ(link_.ActiveText("cheatname"), expected.front());
    EXPECT_EQ(browse(), expected);
    t.Last();
    EXPECT_FALSE(t.IsEmpty());
    EXPECT_EQ(link_.ActiveText("cheatname"), expected.back());
    EXPECT_EQ(t.MoveBy(-100), 1 - static_cast<int>(expected.size()));
    EXPECT_EQ(link_.ActiveText("cheatname"), expected.front());
    EXPECT_EQ(t.MoveBy(100), static_cast<int>(expected.size()) - 1);
    EXPECT_EQ(link_.ActiveText("cheatname"), expected.back());
    // Standing on a record outside the range: nothing to browse.
    t.SelectWorkArea("test");
    ASSERT_TRUE(SetWhileExpr("CHEATNAME = 'Zz'"));
    t.First();
    EXPECT_TRUE(t.Eof());
    t.Last();
    EXPECT_TRUE(t.IsEmpty());
    t.SelectWorkArea("test");
    ASSERT_TRUE(SetWhileExpr(""));
    t.First();
    EXPECT_EQ(link_.ActiveText("cheatname"), "Abuse");
  }
}

TEST_F(TableTest, MemoStreams) {
  Machine("pc", Games());
  DbfTable& t = Open("pc");
  data::Field* memo = t.FieldByName("cheatmemo");
  EXPECT_EQ(memo->AsString(), "a");
  t.LocateRec("cheatname", "quake");
  EXPECT_EQ(memo->AsString(), "q text");
  auto stream = t.CreateBlobStream(memo, data::BlobMode::Read);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Size(), 6);
}

}  // namespace
}  // namespace vz
