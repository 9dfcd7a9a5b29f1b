// What the fuzz targets found, one test per finding. Each test rebuilds the
// shape of the input that showed the fault with the test generators (or a
// few bytes written here) and checks the sound behaviour.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/dbf.h"
#include "engine/errors.h"
#include "engine/work_area.h"
#include "index/indexes.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/NdxBuilder.h"
#include "tests/support/TableFixture.h"
#include "tests/support/TempDir.h"

#ifdef VORZA_FUZZ_REGRESSION_GUI
#include <QStringList>

#include "views/GridColumns.h"
#endif

namespace vz {
namespace {

using test::Bytes;
using test::DbfBuilder;
using test::NdxBuilder;

class FuzzRegression : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetAll(); }
  void TearDown() override { test::ResetAll(); }

  // The error code that a statement reports, raised as EngineError; -1
  // when it raises nothing, -2 when it raises anything else (an internal
  // exception of the engine that leaks out of a public procedure).
  template <typename F>
  static int RaisedCode(F f) {
    try {
      f();
    } catch (const EngineError&) {
      return Engine().Errors.ErrorCode;
    } catch (...) {
      return -2;
    }
    return -1;
  }

  test::TempDir dir_;
};

// fuzz_ndx: a numeric index (key CODE) whose right-most leaf is damaged.
// Opening it reads only the way to the first entry, so it opens; SyncIndex
// on a record of the damaged leaf then let the index engine's internal
// exception leave the public procedure, which ended the program.
TEST_F(FuzzRegression, SyncIndexReportsADamagedNodeAsAnEngineError) {
  DbfBuilder table;
  table.Field("NAME", 'C', 8).Field("CODE", 'N', 5);
  NdxBuilder index('N', 8);
  index.Expression("CODE").Fill(2);
  for (int r = 1; r <= 12; ++r) {
    table.Record({"n" + std::to_string(r), std::to_string(r * 10)});
    index.Number(r * 10, r);
  }
  table.Write(dir_.File("t.dbf"));
  Bytes ndx = index.Build();
  // Top-down numbering puts the right-most leaf last: its entry count
  // becomes more than a node can hold.
  const std::size_t lastNode = ndx.size() / 512 - 1;
  test::Put16(ndx, lastNode * 512, 0x7FFF);
  test::WriteFile(dir_.File("t.ndx"), ndx);

  USE(dir_.File("t.dbf"));
  SetIndexTo(dir_.File("t.ndx"));
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  Set_Order_To(0);
  GO(12);
  Set_Order_To(1);  // leaves its failure for the caller
  EXPECT_EQ(RaisedCode([] { SyncIndex(); }), 222);
  EXPECT_EQ(RaisedCode([] { SoftSyncIndex(); }), 222);
  // The moves of the index itself report the damage the same way.
  EXPECT_EQ(RaisedCode([] { FindLastRecord(); }), 222);
}

// The same leak through StoreCurrentKeys and SyncIndex: a key that does
// not fit the index (a plain field wider than the key length; the table
// was empty when the index was opened) gives code 266 there.
TEST_F(FuzzRegression, StoreCurrentKeysReportsAKeyThatDoesNotFit) {
  DbfBuilder empty;
  empty.Field("NAME", 'C', 10);
  empty.Write(dir_.File("t.dbf"));
  NdxBuilder index('C', 4);
  index.Expression("NAME").Key("Doom", 1).Key("Zz  ", 2);
  index.Write(dir_.File("t.ndx"));

  USE(dir_.File("t.dbf"));
  SetIndexTo(dir_.File("t.ndx"));
  ASSERT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
  Set_Order_To(0);
  DbfBuilder table;
  table.Field("NAME", 'C', 10);
  table.Record({"Doom"}).Record({"Zz"});
  table.Write(dir_.File("t.dbf"));
  GO(2);
  std::string message;
  try {
    StoreCurrentKeys();
  } catch (const EngineError& e) {
    message = e.what();
  }
  EXPECT_EQ(Engine().Errors.ErrorCode, 266);
  EXPECT_NE(message.find("[StoreCurrentKeys]"), std::string::npos) << message;
  EXPECT_EQ(RaisedCode([] { SyncIndex(); }), 266);
}

// fuzz_ndx (undefined behaviour): an anchor whose keys per node and entry
// size are both 65535 overflowed the node-size check before it could
// refuse the file. Such an anchor is damage: code 222 when opened.
TEST_F(FuzzRegression, HugeNodeLayoutInTheAnchorIsRefused) {
  DbfBuilder table;
  table.Field("NAME", 'C', 12).Record({"Doom"}).Record({"Zork"});
  table.Write(dir_.File("t.dbf"));
  NdxBuilder index('C', 12);
  index.Expression("NAME").Key("Doom", 1).Key("Zork", 2);
  Bytes ndx = index.Build();
  test::Put16(ndx, 14, 0xFFFF);  // keys per node
  test::Put16(ndx, 18, 0xFFFF);  // entry size
  test::WriteFile(dir_.File("t.ndx"), ndx);
  // (SetIndexTo leaves its failure in the error state for the caller.)
  USE(dir_.File("t.dbf"));
  SetIndexTo(dir_.File("t.ndx"));
  EXPECT_EQ(Engine().Errors.ErrorCode, 222);
  // Sizes that overflow 16 bits only as a product are refused as well.
  test::Put16(ndx, 14, 256);
  test::Put16(ndx, 18, 256);
  test::WriteFile(dir_.File("t.ndx"), ndx);
  SetIndexTo(dir_.File("t.ndx"));
  EXPECT_EQ(Engine().Errors.ErrorCode, 222);
  // The same file with its own layout opens.
  test::WriteFile(dir_.File("t.ndx"), index.Build());
  SetIndexTo(dir_.File("t.ndx"));
  EXPECT_EQ(Engine().Errors.ErrorCode, 0) << Engine().Errors.ErrorDetail;
}

// The index moves asked for without an index: code 221, "Index not open."
TEST_F(FuzzRegression, IndexMovesWithoutAnIndexReportCode221) {
  DbfBuilder table;
  table.Field("NAME", 'C', 10).Record({"Doom"});
  table.Write(dir_.File("t.dbf"));
  USE(dir_.File("t.dbf"));
  EXPECT_EQ(RaisedCode([] { FindFirstRecord(); }), 221);
  EXPECT_EQ(RaisedCode([] { FindLastRecord(); }), 221);
  // With raising off, the move reports no record and leaves the code.
  SetRaiseErrors(false);
  Engine().Errors.ErrorHandler = [] {};
  EXPECT_EQ(FindFirstRecord(), 0);
  EXPECT_EQ(Engine().Errors.ErrorCode, 221);
}

// fuzz_dbf (excessive memory): every table, however small, took a scan
// block of 256 KB at its first Peek (and at the first step of the search
// box's scan).
TEST_F(FuzzRegression, ScanBlockIsNoLargerThanTheRecords) {
  DbfBuilder table;
  table.Field("CHEATNAME", 'C', 35);
  table.Record({"Doom"}).Record({"Quake"}).Record({"Zork"});
  table.Write(dir_.File("t.dbf"));
  USE(dir_.File("t.dbf"));
  EXPECT_EQ(Peek(1, 2).substr(0, 5), "Quake");
  const WorkArea* a = CurrentTable();
  EXPECT_LE(a->Cache.Data.size(), 3u * 36u);
  EXPECT_TRUE(Locate("CHEATNAME", "Zo"));
  EXPECT_EQ(RecNo(), 3);
  EXPECT_LE(CurrentTable()->Cache.Data.size(), 3u * 36u);
}

#ifdef VORZA_FUZZ_REGRESSION_GUI

// fuzz_savedcolumns: the older column list allows commas in a font's name
// ("the last two commas split it"), but the columns text wrote the font as
// its description, whose parts are separated by commas: the text that the
// columns wrote could not be read back.
TEST_F(FuzzRegression, FontNameWithCommasReadsBack) {
  views::GridColumns columns(nullptr);
  columns.ReadSavedColumns(
      {"cvColumn=2", "cvFontStr=Times, New, Roman,clGrayText,0", "cvTitleFontStr=A,,B,clBlue,266"});
  ASSERT_EQ(columns.Count(), 2);
  EXPECT_EQ(columns[1]->Font().family(), QStringLiteral("Times, New, Roman"));
  const QString text = columns.WriteText();
  views::GridColumns back(nullptr);
  ASSERT_NO_THROW(back.ReadText(text)) << text.toStdString();
  EXPECT_EQ(back.WriteText(), text);
  EXPECT_EQ(back[1]->Font().family(), QStringLiteral("Times, New, Roman"));
  EXPECT_EQ(back[1]->Title().Font().family(), QStringLiteral("A,,B"));
  EXPECT_TRUE(back[1]->Title().Font().bold());
}

// fuzz_savedcolumns (hang, memory): "cvColumn=n" added columns until there
// were n, for any n ("cvColumn=34576" took longer than the fuzzer's
// timeout; a number near 2^31 exhausts memory). A list names at most as
// many columns as a table can have fields.
TEST_F(FuzzRegression, SavedColumnNumberIsLimited) {
  views::GridColumns columns(nullptr);
  columns.ReadSavedColumns({"cvColumn=256", "cvColorStr=clRed"});
  EXPECT_EQ(columns.Count(), 0);
  columns.ReadSavedColumns({"cvColumn=2", "cvColumn=256", "cvColorStr=clRed"});
  ASSERT_EQ(columns.Count(), 2);
  EXPECT_EQ(columns[1]->Color(),
            QColor(255, 0, 0));  // the entry was skipped, column 2 stays current
  views::GridColumns full(nullptr);
  full.ReadSavedColumns({"cvColumn=255"});
  EXPECT_EQ(full.Count(), views::kMaxSavedColumns);
}

#endif

}  // namespace
}  // namespace vz
